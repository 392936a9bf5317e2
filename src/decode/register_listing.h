#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

struct Form;
struct DecodeContext;

// One line "register value" CR LF per word of a block, appended to RegisterDetailsText.
void AppendListing(Form& form, const QByteArray& data, int firstRegister, int count);

// Writes RegisterDetailsText and one more CR LF to the file named by RegisterDetails (nothing when
// empty). Replaced whole and atomically; a failure keeps the old file and is not reported.
void writedetails(const Form& form);

// Any response that is not one of the fixed blocks: a status line with its register count.
void DecodeOther(DecodeContext& ctx, const QByteArray& data, int32_t startAddress);

#pragma once

#include <QByteArray>

struct DecodeContext;

// The 4 registers from 60200: two signed 32-bit limits shown in the control register editor, a
// status line and the registers file. Nothing further is read.
void DecodeBlockD(DecodeContext& ctx, const QByteArray& data);

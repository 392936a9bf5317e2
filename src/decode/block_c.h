#pragma once

#include <QByteArray>

struct DecodeContext;

// The 18 control registers from 60300: listed, seven of them shown in the control register
// editor, a status line, then the read of 4 registers from 60200.
void DecodeBlockC(DecodeContext& ctx, const QByteArray& data);

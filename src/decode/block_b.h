#pragma once

#include <QByteArray>

struct DecodeContext;

// The 24 registers from 60166: lifetime counters, today counters against the night snapshot,
// status line, battery state file put in place, registers file.
void DecodeBlockB(DecodeContext& ctx, const QByteArray& data);

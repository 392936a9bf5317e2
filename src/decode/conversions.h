#pragma once

#include <cstdint>

// Register word conversions. A word is 0..65535 held in a signed 32-bit integer.

// val - 65536 when val > 32767; no upper bound check.
int32_t ToInt16(int32_t val);
// highReg * 65536 + lowReg in signed 32-bit arithmetic; throws RunError 6 "Overflow" when it leaves
// that range (a highReg of 32768 or more).
int32_t ToUInt32(int32_t highReg, int32_t lowReg);
// lowReg - 65536 when highReg is 65535, else lowReg alone (the high word is ignored).
int32_t ToInt32(int32_t highReg, int32_t lowReg);
// r0 * 65536^3 + r1 * 65536^2 + r2 * 65536 + r3 in double precision, terms added left to right.
double ToUInt64(int32_t r0, int32_t r1, int32_t r2, int32_t r3);

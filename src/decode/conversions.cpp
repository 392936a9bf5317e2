#include "decode/conversions.h"

#include "support/run_error.h"

#include <cfenv>
#include <limits>

int32_t ToInt16(int32_t val) {
    return val > 32767 ? val - 65536 : val;
}

int32_t ToUInt32(int32_t highReg, int32_t lowReg) {
    const int64_t product = static_cast<int64_t>(highReg) * 65536;
    if (product > std::numeric_limits<int32_t>::max() || product < std::numeric_limits<int32_t>::min()) {
        throw OverflowError();
    }
    const int64_t sum = product + lowReg;
    if (sum > std::numeric_limits<int32_t>::max() || sum < std::numeric_limits<int32_t>::min()) {
        throw OverflowError();
    }
    return static_cast<int32_t>(sum);
}

int32_t ToInt32(int32_t highReg, int32_t lowReg) {
    return highReg == 65535 ? lowReg - 65536 : lowReg;
}

double ToUInt64(int32_t r0, int32_t r1, int32_t r2, int32_t r3) {
    std::feclearexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
    const double t0 = ((static_cast<double>(r0) * 65536.0) * 65536.0) * 65536.0;
    const double t1 = (static_cast<double>(r1) * 65536.0) * 65536.0;
    const double t2 = static_cast<double>(r2) * 65536.0;
    const double sum = ((t0 + t1) + t2) + static_cast<double>(r3);
    if (std::fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW)) {
        throw RunError{6, QStringLiteral("Overflow"), QString()};
    }
    return sum;
}

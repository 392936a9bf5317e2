#include "installation.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double kPi = 3.14159265358979323846;

struct Range {
    int first;
    int count;
};
constexpr Range kBlockA{60000, 96};
constexpr Range kBlockB{60166, 24};
constexpr Range kLimits{60200, 4};
constexpr Range kControl{60300, 18};
constexpr Range kSignature{40000, 2};

bool Within(const Range& r, int address, int count) {
    return address >= r.first && address + count <= r.first + r.count;
}

// Texts go two characters to a word, the first in the high byte, padded with blanks.
void PutText(QList<quint16>& words, int first, qsizetype wordCount, const char* text) {
    const QByteArray bytes = QByteArray(text).leftJustified(wordCount * 2, ' ', true);
    for (qsizetype i = 0; i < wordCount; ++i) {
        words[first + i] = static_cast<quint16>(static_cast<quint8>(bytes[2 * i]) << 8 |
                                                static_cast<quint8>(bytes[2 * i + 1]));
    }
}

// A signed power goes into two words, high word first, as the installation's firmware writes it.
void PutSigned(QList<quint16>& words, int first, int value) {
    const auto bits = static_cast<quint32>(static_cast<qint32>(value));
    words[first] = static_cast<quint16>(bits >> 16);
    words[first + 1] = static_cast<quint16>(bits & 0xFFFF);
}

void PutUnsigned(QList<quint16>& words, int first, quint32 value) {
    words[first] = static_cast<quint16>(value >> 16);
    words[first + 1] = static_cast<quint16>(value & 0xFFFF);
}

// PV output in watts at a fractional hour of the day: daylight from 6 to 20, passing clouds.
double PvW(double hour, double dayMinutes) {
    if (hour <= 6.0 || hour >= 20.0) {
        return 0.0;
    }
    const double sun = std::pow(std::sin(kPi * (hour - 6.0) / 14.0), 1.5);
    const double clouds = 0.8 + 0.2 * std::cos(2.0 * kPi * dayMinutes / 47.0);
    return Installation::kRatedPvW * sun * clouds;
}

// House load in watts: a base, a breakfast peak and a longer evening peak.
double LoadW(double hour) {
    return 650.0 + 700.0 * std::exp(-std::pow(hour - 7.5, 2) / 0.5) +
           1800.0 * std::exp(-std::pow(hour - 19.0, 2) / 2.0);
}
} // namespace

Installation::Installation(const QDateTime& start, bool sunspec) : now_(start), sunspec_(sunspec) {
    // A few years of history, so the lifetime counters look lived in.
    counters_ = {4'812'345.0, 4'390'120.0, 7'654'321.0, 2'345'678.0};
    control_[0] = 1;            // 60300: control
    control_[10] = 1;           // 60310: discharge, i.e. no forced charge
    control_[11] = 100;         // 60311: highest state of charge a forced charge goes to
    limits_ = {0, 500, 0, 500}; // 5 kW each way, in kW * 100
    step(0);
}

double Installation::maxPowerW(int limitAddress) const {
    const int index = limitAddress - kLimits.first;
    const double limit = (limits_[index] << 16 | limits_[index + 1]) * 10.0;
    return std::min<double>(kRatedBatteryW, std::max(0.0, limit));
}

void Installation::advance(double seconds) {
    if (!(seconds > 0)) {
        return;
    }
    pending_ += seconds;
    while (pending_ >= 0.001) {
        const double dt = std::min(60.0, pending_);
        step(dt);
        now_ = now_.addMSecs(static_cast<qint64>(std::llround(dt * 1000.0)));
        pending_ -= dt;
    }
}

void Installation::step(double seconds) {
    const QTime t = now_.time();
    const double hour = t.msecsSinceStartOfDay() / 3600000.0;
    const double pv = PvW(hour, hour * 60.0);
    const double load = LoadW(hour);
    const double capacityWh = kCapacityKWh * 1000.0;
    const double hours = seconds / 3600.0;
    // What the battery may still take in or give out, in watts over this step (a minute at least,
    // so that a step of zero still shows the powers of the moment).
    const double span = std::max(hours, 1.0 / 60.0);
    const double roomW = (100.0 - soc_) / 100.0 * capacityWh / span;
    const double spareW = std::max(0.0, soc_ - kReserveSoc) / 100.0 * capacityWh / span;
    const double maxCharge = std::min(maxPowerW(60200), roomW);
    const double maxDischarge = std::min(maxPowerW(60202), spareW);

    double fromPv = 0;
    double toHouse = 0;
    double fromGrid = 0;
    double toGrid = 0;
    const bool forced = control_[14] > 0;
    if (forced && control_[10] == 0) {
        const double ceiling = control_[11] == 0 ? 100.0 : std::min(100.0, double(control_[11]));
        if (soc_ < ceiling) {
            fromGrid = std::min<double>(control_[14], maxCharge);
        }
    } else if (forced && control_[10] == 1) {
        toGrid = std::min<double>(control_[14], maxDischarge);
    } else if (pv >= load) {
        fromPv = std::min(pv - load, maxCharge);
    } else {
        toHouse = std::min(load - pv, maxDischarge);
    }
    // The grid covers whatever the PV and the battery leave over, either way.
    const double grid = pv + toHouse + toGrid - load - fromPv - fromGrid;
    const double importW = std::max(0.0, -grid);
    const double exportW = std::max(0.0, grid);

    soc_ += (fromPv + fromGrid - toHouse - toGrid) * hours / capacityWh * 100.0;
    soc_ = std::clamp(soc_, 0.0, 100.0);
    counters_[PvCharge] += fromPv * hours;
    counters_[PvDischarge] += toHouse * hours;
    counters_[GridCharge] += importW * hours;
    counters_[GridDischarge] += exportW * hours;
    pvBatteryW_ = static_cast<int>(std::lround(toHouse - fromPv));
    gridW_ = static_cast<int>(std::lround(grid));
}

bool Installation::read(int address, int count, QList<quint16>* values) const {
    const Range served[] = {kBlockA, kBlockB, kLimits, kControl, kSignature};
    const bool ok = std::any_of(std::begin(served), std::end(served), [&](const Range& r) {
        return (r.first != kSignature.first || sunspec_) && Within(r, address, count);
    });
    if (!ok || count < 1) {
        return false;
    }
    values->clear();
    for (int a = address; a < address + count; ++a) {
        values->append(static_cast<quint16>(wordAt(a)));
    }
    return true;
}

int Installation::wordAt(int address) const {
    if (Within(kBlockA, address, 1)) {
        QList<quint16> a(kBlockA.count, 0);
        PutText(a, 0, 10, "BSIM-2026-0000-00042");
        a[10] = 0x0103; // hardware V1.3
        PutText(a, 11, 15, "battery-sim " MODBUSCLIENT_SIM_VERSION);
        a[26] = 0x0201; // protocol V2.1
        PutUnsigned(a, 27, kRatedPvW);
        PutUnsigned(a, 29, kRatedBatteryW);
        PutUnsigned(a, 31, kCapacityKWh);
        PutSigned(a, 71, pvBatteryW_);
        PutSigned(a, 73, gridW_);
        a[95] = static_cast<quint16>(std::lround(soc_));
        return a[address - kBlockA.first];
    }
    if (Within(kBlockB, address, 1)) {
        const int offset = address - kBlockB.first;
        const int counter = offset / 6;
        const int word = offset % 6;
        if (word >= 4) {
            return 0;
        }
        const std::uint64_t value = static_cast<std::uint64_t>(counters_[static_cast<size_t>(counter)]);
        return static_cast<int>((value >> (16 * (3 - word))) & 0xFFFF);
    }
    if (Within(kLimits, address, 1)) {
        return limits_[address - kLimits.first];
    }
    if (Within(kControl, address, 1)) {
        return control_[address - kControl.first];
    }
    if (Within(kSignature, address, 1)) {
        return address == kSignature.first ? 0x5375 : 0x6E53; // "SunS"
    }
    return 0;
}

bool Installation::write(int address, quint16 value) {
    if (Within(kControl, address, 1)) {
        control_[address - kControl.first] = value;
        return true;
    }
    if (Within(kLimits, address, 1)) {
        limits_[address - kLimits.first] = value;
        return true;
    }
    return false;
}

#pragma once

#include <QDateTime>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>

// One poll cycle's figures as numbers in their units, for what is added around the classic
// program (history, publishing, the managed charge). The window's texts stay in Form; nothing
// here is read back from a display text.
struct Reading {
    QDateTime time; // when the cycle completed

    // The identity as the installation sent it, every character kept (padding, zero bytes).
    QString serial;
    QString hardware; // "V1.3"
    QString firmware;
    int64_t ratedPvW = 0;
    int64_t ratedBatteryW = 0; // read in this cycle
    // None where the figure read is beyond any home battery (over 100 %, over 1,000,000).
    std::optional<int64_t> capacityKWh; // the register counts whole kWh
    std::optional<double> socPercent;
    std::optional<double> levelKWh; // capacity times state of charge
    // The battery's power on the PV side and on the grid side, split into charge and discharge.
    int64_t pvChargeW = 0;
    int64_t pvDischargeW = 0;
    int64_t gridChargeW = 0;
    int64_t gridDischargeW = 0;

    enum Counter { PvCharge, PvDischarge, GridCharge, GridDischarge };
    // The lifetime counters as the installation counts them (Wh, or kWh where it says so).
    std::array<double, 4> lifetime{};
    // The day's counters: the lifetime counter less the night snapshot's; none without one.
    std::array<std::optional<double>, 4> today{};
};

// A serial number that can name a device: printable ASCII, not blank, padded at most with zero
// bytes and blanks at its end. Anything else is a bad read, never an identity.
inline bool ValidSerial(const QString& serial) {
    qsizetype end = serial.size();
    while (end > 0 && (serial.at(end - 1) == QChar(0) || serial.at(end - 1) == QLatin1Char(' '))) {
        --end;
    }
    bool blank = true;
    for (qsizetype i = 0; i < end; ++i) {
        const char16_t c = serial.at(i).unicode();
        if (c < 0x20 || c >= 0x7f) {
            return false;
        }
        blank = blank && c == u' ';
    }
    return !blank;
}

#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QtGlobal>

#include <array>
#include <cmath>

// One completed poll cycle, each figure a whole number of its own unit (kFigureScale): tenths of
// a percent, W, hundredths of a Wh for the level (a percentage of a capacity in Wh), Wh for the
// counters. A figure the cycle did not have (an imported state-of-charge line carries only the
// percentage) is absent.
struct CycleRow {
    static constexpr int kFigures = 10;
    qint64 timeMs = 0; // milliseconds since the epoch
    std::array<qint64, kFigures> units{};
    quint32 present = 0; // bit i: figure i is known

    bool has(int i) const { return (present >> i & 1u) != 0; }
    // The figure in its display unit (%, W, Wh); NaN when absent.
    double figure(int i) const;
    // Sets figure i from its display value; NaN leaves it absent.
    void set(int i, double value);
};

// How many of its own units make one display unit, figure by figure.
extern const int kFigureScale[CycleRow::kFigures];

// One day, as the midnight save closes it.
struct DayRow {
    static constexpr int kFigures = 5;
    QDate date; // the day that ended
    std::array<double, kFigures> figures{};
};

// One minute of cycles, for charts: the range and sum of the state of charge and the four powers,
// the last level and counters.
struct MinuteRow {
    static constexpr int kRanged = 5;
    qint64 minute = 0; // minutes since the epoch
    qint64 count = 0;  // cycles with the powers
    qint64 socCount = 0;
    quint32 present = 0; // bit i: some cycle of the minute had figure i
    std::array<qint64, kRanged> low{};
    std::array<qint64, kRanged> high{};
    std::array<qint64, kRanged> sum{};
    CycleRow last; // the level and the counters at the minute's end
    // The mean of figure i (display unit), NaN when no cycle of the minute had it.
    double mean(int i) const;
};

// Column names, in the order of the figures; they are also the CSV headers.
extern const char* const kCycleColumns[CycleRow::kFigures];
extern const char* const kDayColumns[DayRow::kFigures];

// A figure's text as the files hold it ("" when absent), and back.
double FigureValue(const QString& text);
QString FigureText(double value);

inline double Absent() {
    return std::nan("");
}

// Cycles packed as a blob: times and figures as differences from the row before, in variable
// length integers, so a cycle takes about 20 bytes on disk.
QByteArray PackCycles(const CycleRow* rows, size_t count);
// Calls take(row) for each cycle of a blob; false when the blob is damaged.
template <typename Take> bool UnpackCycles(const char* data, int size, Take take);

namespace packing {
// Reads one variable length signed integer; false past the end.
bool ReadVarint(const char** at, const char* end, qint64* value);
} // namespace packing

template <typename Take> bool UnpackCycles(const char* data, int size, Take take) {
    const char* at = data;
    const char* end = data + size;
    CycleRow row;
    qint64 present = 0;
    while (at < end) {
        qint64 delta = 0;
        if (!packing::ReadVarint(&at, end, &delta) || !packing::ReadVarint(&at, end, &present)) {
            return false;
        }
        row.timeMs += delta;
        row.present = static_cast<quint32>(present);
        for (int i = 0; i < CycleRow::kFigures; ++i) {
            if (row.has(i)) {
                if (!packing::ReadVarint(&at, end, &delta)) {
                    return false;
                }
                row.units[static_cast<size_t>(i)] += delta;
            }
        }
        take(row);
    }
    return true;
}

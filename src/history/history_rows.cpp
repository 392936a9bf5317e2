#include "history/history_rows.h"

#include "support/text_forms.h"

#include <charconv>

const char* const kCycleColumns[CycleRow::kFigures] = {
    "BatteryPercent",  "PVCharge",     "PVDischarge",     "GridCharge",     "GridDischarge",
    "CurrentLevelKWh", "PVChargeLife", "PVDischargeLife", "GridChargeLife", "GridDischargeLife"};
const char* const kDayColumns[DayRow::kFigures] = {"PVChargeToday", "PVDischargeToday", "GridChargeToday",
                                                   "GridDischargeToday", "BatteryPercent"};
const int kFigureScale[CycleRow::kFigures] = {10, 1, 1, 1, 1, 100, 1, 1, 1, 1};

double CycleRow::figure(int i) const {
    return has(i) ? static_cast<double>(units[static_cast<size_t>(i)]) / kFigureScale[i] : Absent();
}

void CycleRow::set(int i, double value) {
    if (std::isnan(value) || std::abs(value) > 1e15) {
        present &= ~(1u << i);
        return;
    }
    units[static_cast<size_t>(i)] = std::llround(value * kFigureScale[i]);
    present |= 1u << i;
}

double MinuteRow::mean(int i) const {
    const qint64 n = i == 0 ? socCount : count;
    return (present >> i & 1u) != 0 && n > 0
               ? static_cast<double>(sum[static_cast<size_t>(i)]) / n / kFigureScale[i]
               : Absent();
}

double FigureValue(const QString& text) {
    // The figures are the program's own decimal texts ("5324.8", "-10", "1E+15"): read as plain
    // ASCII, whatever the locale.
    const QByteArray ascii = text.trimmed().toLatin1();
    if (ascii.isEmpty()) {
        return Absent();
    }
    const char* begin = ascii.constData() + (ascii[0] == '+' ? 1 : 0);
    const char* end = ascii.constData() + ascii.size();
    double value = 0;
    const auto [stop, error] = std::from_chars(begin, end, value);
    return error == std::errc() && stop == end && std::isfinite(value) ? value : Absent();
}

QString FigureText(double value) {
    return std::isnan(value) ? QString() : DecimalText(value);
}

namespace {
void WriteVarint(qint64 value, QByteArray* out) {
    // Zigzag, so that small differences of either sign take one byte.
    auto bits = (static_cast<quint64>(value) << 1) ^ static_cast<quint64>(value >> 63);
    while (bits >= 0x80) {
        out->append(static_cast<char>((bits & 0x7f) | 0x80));
        bits >>= 7;
    }
    out->append(static_cast<char>(bits));
}
} // namespace

bool packing::ReadVarint(const char** at, const char* end, qint64* value) {
    quint64 bits = 0;
    for (int shift = 0; *at < end && shift < 64; shift += 7) {
        const auto byte = static_cast<unsigned char>(*(*at)++);
        bits |= static_cast<quint64>(byte & 0x7f) << shift;
        if (byte < 0x80) {
            *value = static_cast<qint64>(bits >> 1) ^ -static_cast<qint64>(bits & 1);
            return true;
        }
    }
    return false;
}

QByteArray PackCycles(const CycleRow* rows, size_t count) {
    QByteArray out;
    out.reserve(static_cast<qsizetype>(count) * 24);
    CycleRow before;
    for (size_t r = 0; r < count; ++r) {
        const CycleRow& row = rows[r];
        WriteVarint(row.timeMs - before.timeMs, &out);
        WriteVarint(row.present, &out);
        for (int i = 0; i < CycleRow::kFigures; ++i) {
            if (row.has(i)) {
                const auto f = static_cast<size_t>(i);
                WriteVarint(row.units[f] - before.units[f], &out);
                before.units[f] = row.units[f];
            }
        }
        before.timeMs = row.timeMs;
    }
    return out;
}

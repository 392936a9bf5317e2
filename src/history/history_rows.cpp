#include "history/history_rows.h"

#include "model/form.h"
#include "support/text_forms.h"

#include <charconv>

const char* const kCycleColumns[CycleRow::kFigures] = {
    "BatteryPercent",  "PVCharge",     "PVDischarge",     "GridCharge",     "GridDischarge",
    "CurrentLevelKWh", "PVChargeLife", "PVDischargeLife", "GridChargeLife", "GridDischargeLife"};
const char* const kDayColumns[DayRow::kFigures] = {"PVChargeToday", "PVDischargeToday", "GridChargeToday",
                                                   "GridDischargeToday", "BatteryPercent"};

double FigureValue(const QString& text) {
    // The figures are the program's own decimal texts ("5324.8", "-10", "1E+15"): read as plain
    // ASCII, whatever the locale, at a fraction of QString::toDouble's cost.
    const QString trimmed = text.trimmed();
    char ascii[64];
    const qsizetype size = trimmed.size();
    if (size == 0 || size >= qsizetype(sizeof ascii)) {
        return Absent();
    }
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = trimmed[i].unicode();
        if (c > 127) {
            return Absent();
        }
        ascii[i] = static_cast<char>(c);
    }
    const char* begin = ascii[0] == '+' ? ascii + 1 : ascii;
    double value = 0;
    const auto [end, error] = std::from_chars(begin, ascii + size, value);
    return error == std::errc() && end == ascii + size && std::isfinite(value) ? value : Absent();
}

QString FigureText(double value) {
    return std::isnan(value) ? QString() : DecimalText(value);
}

CycleRow CycleFromForm(const Form& form, qint64 timeMs) {
    CycleRow row;
    row.timeMs = timeMs;
    const QString* texts[CycleRow::kFigures] = {
        &form.BatteryPercent, &form.PVCharge,         &form.PVDischarge,  &form.GridCharge,
        &form.GridDischarge,  &form.CurrentLevelKWh,  &form.PVChargeLife, &form.PVDischargeLife,
        &form.GridChargeLife, &form.GridDischargeLife};
    for (int i = 0; i < CycleRow::kFigures; ++i) {
        row.figures[static_cast<size_t>(i)] = FigureValue(*texts[i]);
    }
    return row;
}

DayRow DayFromForm(const Form& form, const QDate& day) {
    DayRow row;
    row.date = day;
    const QString* texts[DayRow::kFigures] = {&form.PVChargeToday, &form.PVDischargeToday,
                                              &form.GridChargeToday, &form.GridDischargeToday,
                                              &form.BatteryPercent};
    // A counter with no night baseline (the first day, no night snapshot yet) holds the whole
    // lifetime, not the day: it is left out rather than drawn as one giant day.
    const QString* baselines[4] = {&form.NightPVChargeLife, &form.NightPVDischargeLife,
                                   &form.NightGridChargeLife, &form.NightGridDischargeLife};
    for (int i = 0; i < DayRow::kFigures; ++i) {
        const bool baseline = i >= 4 || !baselines[i]->trimmed().isEmpty();
        row.figures[static_cast<size_t>(i)] = baseline ? FigureValue(*texts[i]) : Absent();
    }
    return row;
}

#include "history/history_rows.h"

#include "model/form.h"
#include "support/text_forms.h"

const char* const kCycleColumns[CycleRow::kFigures] = {
    "BatteryPercent",  "PVCharge",     "PVDischarge",     "GridCharge",     "GridDischarge",
    "CurrentLevelKWh", "PVChargeLife", "PVDischargeLife", "GridChargeLife", "GridDischargeLife"};
const char* const kDayColumns[DayRow::kFigures] = {"PVChargeToday", "PVDischargeToday", "GridChargeToday",
                                                   "GridDischargeToday", "BatteryPercent"};

double FigureValue(const QString& text) {
    // The figures are the program's own decimal texts: QString's C-locale reading is enough, and
    // costs a fraction of a locale's.
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok && std::isfinite(value) ? value : Absent();
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
    for (int i = 0; i < DayRow::kFigures; ++i) {
        row.figures[static_cast<size_t>(i)] = FigureValue(*texts[i]);
    }
    return row;
}

#include "app/history.h"

#include "app/command_line.h"
#include "app/shell.h"
#include "energy/night.h"
#include "history/csv_export.h"
#include "model/form.h"
#include "support/clock.h"

#include <QDir>
#include <QFile>

#include <cstdio>

CycleRow CycleFromForm(const Form& form, qint64 timeMs) {
    CycleRow row;
    row.timeMs = timeMs;
    const QString* texts[CycleRow::kFigures] = {
        &form.BatteryPercent, &form.PVCharge,         &form.PVDischarge,  &form.GridCharge,
        &form.GridDischarge,  &form.CurrentLevelKWh,  &form.PVChargeLife, &form.PVDischargeLife,
        &form.GridChargeLife, &form.GridDischargeLife};
    for (int i = 0; i < CycleRow::kFigures; ++i) {
        row.set(i, FigureValue(*texts[i]));
    }
    return row;
}

DayRow DayFromForm(const Form& form) {
    DayRow row;
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

std::unique_ptr<HistoryStore> StartHistory(Shell& shell, const Clock& clock,
                                           const HistorySettings& settings) {
    HistoryOptions options;
    ApplyHistorySettings(settings, &options);
    options.summaryLog = QString::fromLatin1(kDailySummaryFile);
    options.socLog = shell.form().BatterySoC;
    // The log's lines from the second the store starts on are this run's own cycles.
    options.importBeforeMs = clock.now().toSecsSinceEpoch() * 1000;
    auto store = std::make_unique<HistoryStore>(clock, shell.log(), options);
    HistoryStore* s = store.get();
    s->notify = [&shell](const QString& text) {
        shell.status().AppendStatusLine(text);
        std::fprintf(stderr, "ModbusClient: %s\n", text.toLocal8Bit().constData());
        Q_EMIT shell.changed();
    };
    QObject::connect(&shell, &Shell::pollCycleCompleted, s, [s, &shell, &clock] {
        s->addCycle(CycleFromForm(shell.form(), clock.now().toMSecsSinceEpoch()));
    });
    QObject::connect(&shell, &Shell::daySaved, s, [s, &shell] { s->addDay(DayFromForm(shell.form())); });
    s->start();
    return store;
}

int ExportHistory(const CommandLine& options) {
    const QString path = QString::fromLatin1(kHistoryFile);
    if (!QFile::exists(path)) {
        std::fprintf(stderr, "ModbusClient: no history store here: %s not found in %s\n", kHistoryFile,
                     QDir::currentPath().toLocal8Bit().constData());
        return 1;
    }
    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly)) {
        return 1;
    }
    QString error;
    const ExportKind kind =
        options.exportKind == QLatin1String("daily") ? ExportKind::Days : ExportKind::Cycles;
    if (!ExportCsv(path, kind, options.exportFrom, options.exportTo, out, &error)) {
        out.flush();
        std::fprintf(stderr, "ModbusClient: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    return 0;
}

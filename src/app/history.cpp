#include "app/history.h"

#include "app/command_line.h"
#include "app/shell.h"
#include "energy/night.h"
#include "history/csv_export.h"
#include "support/clock.h"

#include <QDir>
#include <QFile>

#include <cstdio>

CycleRow CycleFromReading(const Reading& reading) {
    CycleRow row;
    row.timeMs = reading.time.toMSecsSinceEpoch();
    const auto known = [](const std::optional<double>& value) { return value ? *value : Absent(); };
    const double figures[CycleRow::kFigures] = {known(reading.socPercent),
                                                static_cast<double>(reading.pvChargeW),
                                                static_cast<double>(reading.pvDischargeW),
                                                static_cast<double>(reading.gridChargeW),
                                                static_cast<double>(reading.gridDischargeW),
                                                known(reading.levelKWh),
                                                reading.lifetime[Reading::PvCharge],
                                                reading.lifetime[Reading::PvDischarge],
                                                reading.lifetime[Reading::GridCharge],
                                                reading.lifetime[Reading::GridDischarge]};
    for (int i = 0; i < CycleRow::kFigures; ++i) {
        row.set(i, figures[i]);
    }
    return row;
}

DayRow DayFromReading(const Reading& reading) {
    DayRow row;
    // A counter with no night baseline (the first day, no night snapshot yet) has no day: left
    // out rather than drawn as one giant day of the whole lifetime.
    for (size_t i = 0; i < reading.today.size(); ++i) {
        row.figures[i] = reading.today[i] ? *reading.today[i] : Absent();
    }
    row.figures[4] = reading.socPercent ? *reading.socPercent : Absent();
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
    QObject::connect(&shell, &Shell::cycleCompleted, s,
                     [s](const Reading& reading) { s->addCycle(CycleFromReading(reading)); });
    // The last cycle's figures are those of the day that ended.
    QObject::connect(&shell, &Shell::daySaved, s,
                     [s, &shell] { s->addDay(DayFromReading(shell.reading())); });
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

#include "app/history.h"

#include "app/command_line.h"
#include "app/shell.h"
#include "energy/night.h"
#include "history/csv_export.h"

#include <QDir>
#include <QFile>

#include <cstdio>

std::unique_ptr<HistoryStore> StartHistory(Shell& shell, const Clock& clock) {
    HistoryStore::Options options;
    options.summaryLog = QString::fromLatin1(kDailySummaryFile);
    options.socLog = shell.form().BatterySoC;
    auto store = std::make_unique<HistoryStore>(clock, shell.log(), options);
    HistoryStore* s = store.get();
    s->notify = [&shell](const QString& text) {
        shell.status().AppendStatusLine(text);
        std::fprintf(stderr, "ModbusClient: %s\n", text.toLocal8Bit().constData());
        Q_EMIT shell.changed();
    };
    QObject::connect(&shell, &Shell::pollCycleCompleted, s, [s, &shell] { s->addCycle(shell.form()); });
    QObject::connect(&shell, &Shell::daySaved, s, [s, &shell] { s->addDay(shell.form()); });
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

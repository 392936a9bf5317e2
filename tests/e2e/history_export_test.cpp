#include "app/history.h"
#include "common/test_support.h"
#include "history/history_file.h"
#include "model/reading.h"
#include "support/clock.h"
#include "support/error_log.h"
#include "support/prompter.h"

#include <QProcess>

#include <ctime>

namespace {

struct Outcome {
    int code = -1;
    QByteArray out;
    QByteArray err;
};

Outcome Client(const QStringList& arguments, const QString& folder = QString()) {
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(QStringLiteral(E2E_CLIENT), arguments);
    process.waitForFinished(30000);
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

class HistoryExportTest : public InTempDir {};

} // namespace

TEST_F(HistoryExportTest, ExportWritesCsvOnStandardOutputOrSaysWhyNot) {
    const Outcome missing = Client({QStringLiteral("--export"), QStringLiteral("daily")});
    EXPECT_EQ(missing.code, 1);
    EXPECT_TRUE(missing.out.isEmpty());
    EXPECT_TRUE(missing.err.contains("no history store here")) << missing.err.toStdString();

    {
        SettableClock clock(QDateTime(QDate(2026, 12, 5), QTime(12, 0)));
        RecordingPrompter prompter;
        ErrorLog log(clock, prompter);
        HistoryStore store(clock, log, {});
        store.start();
        Reading reading;
        reading.socPercent = 61.5;
        reading.today[Reading::PvCharge] = 1234.5;
        CycleRow cycle;
        cycle.set(0, 61.5);
        for (int day = 0; day < 3; ++day) {
            cycle.timeMs = clock.now().toMSecsSinceEpoch();
            store.addCycle(cycle);
            clock.advance(12 * 3600 * 1000); // midnight
            store.addDay(DayFromReading(reading));
            clock.advance(12 * 3600 * 1000);
        }
    }
    const Outcome daily = Client({QStringLiteral("--export"), QStringLiteral("daily"),
                                  QStringLiteral("--from"), QStringLiteral("2026-12-06")});
    EXPECT_EQ(daily.code, 0) << daily.err.toStdString();
    EXPECT_EQ(daily.out,
              "date,PVChargeToday,PVDischargeToday,GridChargeToday,GridDischargeToday,BatteryPercent\r\n"
              "2026-12-06,1234.5,,,,61.5\r\n2026-12-07,1234.5,,,,61.5\r\n");
    const Outcome cycles = Client({QStringLiteral("--export"), QStringLiteral("cycles"),
                                   QStringLiteral("--to"), QStringLiteral("2026-12-05")});
    EXPECT_EQ(cycles.code, 0) << cycles.err.toStdString();
    const QList<QByteArray> lines = cycles.out.split('\n');
    ASSERT_EQ(lines.size(), 3); // header, one cycle, the end of the last line
    EXPECT_TRUE(lines[1].startsWith("2026-12-05T12:00:00")) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].endsWith(",61.5,,,,,,,,,\r")) << lines[1].toStdString();

    // An administrator's export of an instance's folder, from anywhere.
    const Outcome elsewhere = Client({QStringLiteral("--export"), QStringLiteral("daily"),
                                      QStringLiteral("--workdir"), QDir::currentPath()},
                                     QDir::rootPath());
    EXPECT_EQ(elsewhere.code, 0) << elsewhere.err.toStdString();
    EXPECT_EQ(elsewhere.out, Client({QStringLiteral("--export"), QStringLiteral("daily")}).out);

    for (const char* bad : {"2026-13-01", "5.12.2026"}) {
        const Outcome run = Client({QStringLiteral("--export"), QStringLiteral("daily"),
                                    QStringLiteral("--to"), QString::fromLatin1(bad)});
        EXPECT_EQ(run.code, 2) << bad;
        EXPECT_TRUE(run.err.contains("YYYY-MM-DD")) << run.err.toStdString();
    }
    EXPECT_EQ(Client({QStringLiteral("--export"), QStringLiteral("weekly")}).code, 2);
}

TEST_F(HistoryExportTest, ALargeExportStreamsInBoundedMemory) {
    // 600,000 cycles, a week at 1 s: several times the memory the export may take, were it held.
    qputenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    tzset();
    const qint64 start = QDateTime(QDate(2026, 11, 2), QTime(0, 0)).toMSecsSinceEpoch();
    {
        HistoryFile file;
        DbError error;
        bool fresh = false;
        ASSERT_TRUE(file.open(QStringLiteral("history.sqlite"), &fresh, &error) && file.begin(&error));
        std::vector<CycleRow> rows(60000);
        for (qint64 i = 0; i < 600000; ++i) {
            CycleRow& row = rows[static_cast<size_t>(i % 60000)];
            row.timeMs = start + i * 1000;
            for (int f = 0; f < CycleRow::kFigures; ++f) {
                row.set(f, double(f * 1000 + i % 977));
            }
            if (i % 60000 == 59999) {
                ASSERT_TRUE(file.insertCycles(rows, &error)) << error.text.toStdString();
            }
        }
        ASSERT_TRUE(file.commit(&error)) << error.text.toStdString();
    }
    // Its peak memory as time(1) sees it: a child of this process starts with this one's pages.
    QProcess process;
    process.setStandardOutputFile(QStringLiteral("cycles.csv"));
    process.start(QStringLiteral("/usr/bin/time"),
                  {QStringLiteral("-f"), QStringLiteral("%M"), QStringLiteral("-o"),
                   QStringLiteral("peak.txt"), QStringLiteral(E2E_CLIENT), QStringLiteral("--export"),
                   QStringLiteral("cycles")});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 0);
#if defined(__SANITIZE_ADDRESS__)
    constexpr long kMostKiB = 256 * 1024; // the sanitizer's shadow memory and freed-block quarantine
#else
    constexpr long kMostKiB = 64 * 1024;
#endif
    EXPECT_LT(ReadAll(QStringLiteral("peak.txt")).trimmed().toLong(), kMostKiB) << "KiB at the peak";
    QFile csv(QStringLiteral("cycles.csv"));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    qint64 lines = 0;
    QByteArray last;
    while (!csv.atEnd()) {
        last = csv.readLine();
        ++lines;
    }
    EXPECT_EQ(lines, 1 + 600000);
    EXPECT_EQ(last, "2026-11-08T22:39:59+01:00,121,1121,2121,3121,4121,5121,6121,7121,8121,9121\r\n");
}

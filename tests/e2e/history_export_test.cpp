#include "app/history.h"
#include "common/test_support.h"
#include "model/form.h"
#include "support/clock.h"
#include "support/error_log.h"
#include "support/prompter.h"

#include <QProcess>

namespace {

struct Outcome {
    int code = -1;
    QByteArray out;
    QByteArray err;
};

Outcome Client(const QStringList& arguments) {
    QProcess process;
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
        Form form;
        form.BatteryPercent = QStringLiteral("61.5");
        form.PVChargeToday = QStringLiteral("1234.5");
        form.NightPVChargeLife = QStringLiteral("100");
        for (int day = 0; day < 3; ++day) {
            store.addCycle(CycleFromForm(form, clock.now().toMSecsSinceEpoch()));
            clock.advance(12 * 3600 * 1000); // midnight
            store.addDay(DayFromForm(form));
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

    for (const char* bad : {"2026-13-01", "5.12.2026"}) {
        const Outcome run = Client({QStringLiteral("--export"), QStringLiteral("daily"),
                                    QStringLiteral("--to"), QString::fromLatin1(bad)});
        EXPECT_EQ(run.code, 2) << bad;
        EXPECT_TRUE(run.err.contains("YYYY-MM-DD")) << run.err.toStdString();
    }
    EXPECT_EQ(Client({QStringLiteral("--export"), QStringLiteral("weekly")}).code, 2);
}

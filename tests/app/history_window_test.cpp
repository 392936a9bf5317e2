#include "app/history.h"
#include "app/history_window.h"
#include "app/main_window.h"
#include "app/price_chart.h"
#include "app/shell.h"
#include "common/fake_server.h"
#include "common/test_support.h"
#include "history/csv_export.h"
#include "history/sqlite.h"
#include "model/reading.h"
#include "support/clock.h"
#include "support/error_log.h"
#include "support/prompter.h"

#include <QBarSeries>
#include <QBarSet>
#include <QBuffer>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>

namespace {

// A cycle with its state of charge and PV charge only, the other figures unknown.
CycleRow Cycle(const QDateTime& time, double soc, double pv = 1200) {
    CycleRow row;
    row.timeMs = time.toMSecsSinceEpoch();
    row.set(0, soc);
    row.set(1, pv);
    return row;
}

class HistoryWindowTest : public InTempDir {
protected:
    // Cycles every 10 minutes from 08:00: count on the 6th, two on the 7th; the 6th closed.
    void Fill(int count) {
        HistoryStore store(clock, log, {});
        store.start();
        clock.set(QDateTime(QDate(2026, 12, 6), QTime(8, 0)));
        for (int i = 0; i < count; ++i) {
            store.addCycle(Cycle(clock.now(), 40));
            clock.advance(600000);
        }
        Reading day;
        day.today[Reading::PvCharge] = 5100;
        day.socPercent = 40;
        clock.set(QDateTime(QDate(2026, 12, 7), QTime(0, 0)));
        store.addDay(DayFromReading(day));
        clock.set(QDateTime(QDate(2026, 12, 7), QTime(8, 0)));
        store.addCycle(Cycle(clock.now(), 40));
        clock.advance(600000);
        store.addCycle(Cycle(clock.now(), 40));
    }

    SettableClock clock;
    RecordingPrompter prompter;
    ErrorLog log{clock, prompter};
};

} // namespace

TEST_F(HistoryWindowTest, ShowsADayAndTheDailyBarsAndFollowsNewCycles) {
    Fill(30);
    HistoryWindow window(QStringLiteral("history.sqlite"), QDate(2026, 12, 7));
    window.show();
    const auto loaded = [&window] { return WaitUntil([&window] { return !window.loading(); }); };
    ASSERT_TRUE(loaded());
    EXPECT_EQ(window.series(0)->count(), 2);
    EXPECT_EQ(window.series(1)->count(), 2);
    window.previousDay();
    ASSERT_TRUE(loaded());
    EXPECT_EQ(window.shownDay(), QDate(2026, 12, 6));
    EXPECT_EQ(window.series(0)->count(), 30);
    EXPECT_EQ(window.series(0)->at(0).y(), 40);
    EXPECT_EQ(window.series(1)->at(29).y(), 1200);
    // The figures a cycle lacked (here the grid) are not drawn as zero.
    EXPECT_EQ(window.series(3)->count(), 0);
    window.nextDay();
    ASSERT_TRUE(loaded());
    EXPECT_EQ(window.series(0)->count(), 2);

    const QList<QBarSet*> sets = window.dailyBars()->barSets();
    ASSERT_EQ(sets.size(), 4);
    EXPECT_EQ(sets[0]->count(), 31);
    EXPECT_EQ(window.dailyBars()->count(), 4);
    EXPECT_EQ(window.dayLabels().size(), 31); // one a day, though the 7th comes twice
    EXPECT_EQ(sets[0]->at(29), 5100);         // the 6th, second to last
    EXPECT_EQ(sets[0]->at(30), 0);

    // A new cycle of the shown day appears at the next refresh; one of another day does not.
    window.addCycle(Cycle(QDateTime(QDate(2026, 12, 7), QTime(8, 20)), 44));
    window.addCycle(Cycle(QDateTime(QDate(2026, 12, 8), QTime(0, 1)), 44));
    window.refreshTick();
    EXPECT_EQ(window.series(0)->count(), 3);
    EXPECT_EQ(window.series(0)->at(2).y(), 44);

    ASSERT_TRUE(window.exportCsv(QStringLiteral("day.csv")));
    const QStringList day = CrLfLines(QStringLiteral("day.csv"));
    ASSERT_EQ(day.size(), 1 + 3);
    EXPECT_TRUE(day[3].startsWith(QStringLiteral("2026-12-07T08:20:00"))) << day[3].toStdString();
    window.tabs()->setCurrentIndex(1);
    ASSERT_TRUE(window.exportCsv(QStringLiteral("days.csv")));
    EXPECT_EQ(CrLfLines(QStringLiteral("days.csv")),
              QStringList({QStringLiteral("date,PVChargeToday,PVDischargeToday,GridChargeToday,"
                                          "GridDischargeToday,BatteryPercent"),
                           QStringLiteral("2026-12-06,5100,,,,40")}));
}

TEST_F(HistoryWindowTest, TheHistoryButtonSitsInTheExpandedPartAndOpensOneWindow) {
    Fill(3);
    Shell shell(clock, prompter);
    MainWindow main(shell);
    HistoryStore store(clock, log, {});
    PlanView plan; // asked at the opening and after each cycle
    OpenHistoryOnClick(main, shell, store, clock, [&plan] { return plan; });
    main.show();
    auto* button = main.findChild<QPushButton*>(QStringLiteral("History"));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->accessibleName(), QStringLiteral("History"));
    EXPECT_TRUE(button->isVisible());
    shell.form().Height = kCompactHeight;
    main.refresh();
    EXPECT_FALSE(button->isVisible());

    button->click();
    button->click();
    const QList<HistoryWindow*> windows = main.findChildren<HistoryWindow*>();
    ASSERT_EQ(windows.size(), 1);
    EXPECT_TRUE(windows[0]->isVisible());
    EXPECT_EQ(windows[0]->shownDay(), QDate(2026, 12, 7));
    ASSERT_TRUE(WaitUntil([&] { return !windows[0]->loading(); }));
    EXPECT_EQ(windows[0]->series(0)->count(), 2);
    const QDateTime noon(QDate(2026, 12, 7), QTime(12, 0));
    plan.prices = {{noon, noon.addSecs(3600), 0.2}};
    Q_EMIT shell.cycleCompleted(Reading());
    EXPECT_EQ(windows[0]->priceChart()->prices()->count(), 2);
}

TEST_F(HistoryWindowTest, TheStoreIsReadOffThePollsThreadWhilePollingGoesOn) {
    Fill(3);
    // Another program holds the file: the window's read waits for it, the poll does not.
    Sqlite other;
    DbError error;
    ASSERT_TRUE(other.open(QStringLiteral("history.sqlite"), false, 0, &error));
    ASSERT_TRUE(other.exec("PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE", &error));
    HistoryWindow window(QStringLiteral("history.sqlite"), QDate(2026, 12, 7));
    window.show();
    auto* message = window.findChild<QLabel*>(QStringLiteral("HistoryMessage"));
    EXPECT_TRUE(window.loading());
    EXPECT_EQ(message->text(), QStringLiteral("Loading..."));

    FakeServer server;
    ASSERT_TRUE(server.listen());
    Shell shell(clock, prompter);
    QSignalSpy completed(&shell, &Shell::pollCycleCompleted);
    shell.Form_Load(QStringLiteral("127.0.0.1"));
    shell.form().Port = QString::number(server.port());
    shell.connectcmd_Click();
    ASSERT_TRUE(completed.wait(2000));
    shell.Timer1_Timer();
    ASSERT_TRUE(completed.wait(2000));
    EXPECT_TRUE(window.loading());

    // A newer request replaces the waiting one; once the file is free the chart comes.
    window.previousDay();
    other.exec("COMMIT", &error);
    other.close();
    ASSERT_TRUE(WaitUntil([&] { return !window.loading(); }));
    EXPECT_FALSE(message->isVisible());
    EXPECT_EQ(window.shownDay(), QDate(2026, 12, 6));
    EXPECT_EQ(window.series(0)->count(), 3);
}

TEST_F(HistoryWindowTest, TheDayIsExportedAsItsCyclesAndDrawnWithItsGaps) {
    const QDate day(2026, 12, 7);
    {
        HistoryStore store(clock, log, {});
        store.start();
        // Two cycles in one minute, the morning a minute apart, six hours without a client.
        store.addCycle(Cycle(QDateTime(day, QTime(8, 0, 0)), 40, 1000));
        store.addCycle(Cycle(QDateTime(day, QTime(8, 0, 20)), 50, 2000));
        for (int minute = 1; minute <= 30; ++minute) {
            store.addCycle(Cycle(QDateTime(day, QTime(8, minute)), 51));
        }
        for (int minute = 0; minute <= 10; ++minute) {
            store.addCycle(Cycle(QDateTime(day, QTime(14, minute)), 60));
        }
    }
    HistoryWindow window(QStringLiteral("history.sqlite"), day);
    ASSERT_TRUE(WaitUntil([&window] { return !window.loading(); }));
    EXPECT_EQ(window.stretches(0), 2u);
    EXPECT_EQ(window.stretches(1), 2u);
    EXPECT_EQ(window.series(0)->count(), 31); // a point a minute
    // A cycle after a gap starts a stretch of its own; the next minute's joins it.
    window.addCycle(Cycle(QDateTime(day, QTime(14, 30)), 61));
    window.refreshTick();
    window.addCycle(Cycle(QDateTime(day, QTime(14, 31)), 62));
    window.refreshTick();
    EXPECT_EQ(window.stretches(0), 3u);

    QBuffer stored;
    stored.open(QIODevice::WriteOnly);
    QString error;
    ASSERT_TRUE(ExportCsv(QStringLiteral("history.sqlite"), ExportKind::Cycles, day, day, stored, &error));
    ASSERT_TRUE(window.exportCsv(QStringLiteral("day.csv")));
    const QByteArray exported = ReadAll(QStringLiteral("day.csv"));
    // What --export cycles writes for the day, then the cycles the store does not have yet.
    EXPECT_TRUE(exported.startsWith(stored.data()));
    const QStringList lines = CrLfLines(QStringLiteral("day.csv"));
    ASSERT_EQ(lines.size(), 1 + 2 + 30 + 11 + 2);
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral(",40,1000,,,,,,,,"))) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].endsWith(QStringLiteral(",50,2000,,,,,,,,"))) << lines[2].toStdString();
    EXPECT_TRUE(lines.last().startsWith(QStringLiteral("2026-12-07T14:31:00"))) << lines.last().toStdString();
}

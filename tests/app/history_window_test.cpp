#include "app/history.h"
#include "app/history_window.h"
#include "app/main_window.h"
#include "app/shell.h"
#include "common/fake_server.h"
#include "common/test_support.h"
#include "history/sqlite.h"
#include "model/form.h"
#include "support/clock.h"
#include "support/error_log.h"
#include "support/prompter.h"

#include <QBarSeries>
#include <QBarSet>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>

namespace {

class HistoryWindowTest : public InTempDir {
protected:
    // Cycles every 10 minutes from 08:00: count on the 6th, two on the 7th; the 6th closed.
    void Fill(int count) {
        HistoryStore store(clock, log, {});
        store.start();
        form.BatteryPercent = QStringLiteral("40");
        form.PVCharge = QStringLiteral("1200");
        clock.set(QDateTime(QDate(2026, 12, 6), QTime(8, 0)));
        for (int i = 0; i < count; ++i) {
            store.addCycle(CycleFromForm(form, clock.now().toMSecsSinceEpoch()));
            clock.advance(600000);
        }
        form.PVChargeToday = QStringLiteral("5100");
        form.NightPVChargeLife = QStringLiteral("100");
        clock.set(QDateTime(QDate(2026, 12, 7), QTime(0, 0)));
        store.addDay(DayFromForm(form));
        clock.set(QDateTime(QDate(2026, 12, 7), QTime(8, 0)));
        store.addCycle(CycleFromForm(form, clock.now().toMSecsSinceEpoch()));
        clock.advance(600000);
        store.addCycle(CycleFromForm(form, clock.now().toMSecsSinceEpoch()));
    }

    SettableClock clock;
    RecordingPrompter prompter;
    ErrorLog log{clock, prompter};
    Form form;
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
    form.BatteryPercent = QStringLiteral("44");
    window.addCycle(CycleFromForm(form, QDateTime(QDate(2026, 12, 7), QTime(9, 0)).toMSecsSinceEpoch()));
    window.addCycle(CycleFromForm(form, QDateTime(QDate(2026, 12, 8), QTime(0, 1)).toMSecsSinceEpoch()));
    window.refreshTick();
    EXPECT_EQ(window.series(0)->count(), 3);
    EXPECT_EQ(window.series(0)->at(2).y(), 44);

    ASSERT_TRUE(window.exportCsv(QStringLiteral("day.csv")));
    const QStringList day = CrLfLines(QStringLiteral("day.csv"));
    ASSERT_EQ(day.size(), 1 + 3);
    EXPECT_TRUE(day[3].startsWith(QStringLiteral("2026-12-07T09:00:00"))) << day[3].toStdString();
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
    OpenHistoryOnClick(main, shell, store, clock);
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

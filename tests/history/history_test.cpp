#include "history_fixture.h"

#include <QElapsedTimer>

TEST_F(HistoryTest, ImportsTheClassicFilesThenKeepsEveryCycleAndEveryDay) {
    WriteAll(QStringLiteral("battery daily summary.log"),
             "05/12/2026 23:59:40\r\nPVChargeToday = 4100\r\nGridChargeToday = 12.5\r\n"
             "PVDischargeToday = 3000\r\nGridDischargeToday = 0\r\nBatteryPercent = 81\r\n"
             "Date = 05/12/2026 23:59:40\r\n\r\n"
             "06/12/2026 23:59:50\r\nPVChargeToday = 900\r\nBatteryPercent = 40\r\n\r\n");
    WriteAll(QStringLiteral("BatterySoC.log"), "06/12/2026 08:00:00 35\r\n06/12/2026 09:00:00 38\r\n");
    WriteAll(QStringLiteral("BatteryNight.txt"), "PVChargeLife = 1000\r\n");
    Shell shell(clock, prompter);
    shell.Form_Load(QStringLiteral("127.0.0.1"));
    const auto store = StartHistory(shell, clock);
    Poll(shell, 3);
    store->flush();

    const QList<QStringList> cycles = Export(ExportKind::Cycles);
    ASSERT_EQ(cycles.size(), 1 + 2 + 4);
    EXPECT_EQ(
        cycles[0].join(QLatin1Char(',')),
        QStringLiteral("time,BatteryPercent,PVCharge,PVDischarge,GridCharge,GridDischarge,"
                       "CurrentLevelKWh,PVChargeLife,PVDischargeLife,GridChargeLife,GridDischargeLife"));
    EXPECT_EQ(cycles[1], QStringList({QStringLiteral("2026-12-06T08:00:00+01:00"),
                                      QStringLiteral("35"),
                                      {},
                                      {},
                                      {},
                                      {},
                                      {},
                                      {},
                                      {},
                                      {},
                                      {}}));
    EXPECT_EQ(cycles[3][0], QStringLiteral("2026-12-07T21:04:05+01:00"));
    EXPECT_EQ(cycles[6][0], QStringLiteral("2026-12-07T21:04:26+01:00"));
    EXPECT_EQ(cycles[6][1], QStringLiteral("57"));
    EXPECT_EQ(cycles[6][7], QStringLiteral("1500"));
    EXPECT_EQ(cycles[6][9], QStringLiteral("90"));
    EXPECT_EQ(Export(ExportKind::Cycles, QDate(2026, 12, 7), QDate(2026, 12, 7)).size(), 1 + 4);

    // The midnight save closes the day that ended, even after a cycle just past midnight.
    clock.set(QDateTime(QDate(2026, 12, 8), QTime(0, 0, 1)));
    Poll(shell, 1);
    shell.Timer2_Timer();
    store->flush();
    const QList<QStringList> days = Export(ExportKind::Days);
    ASSERT_EQ(days.size(), 1 + 3);
    EXPECT_EQ(days[0].join(QLatin1Char(',')),
              QStringLiteral("date,PVChargeToday,PVDischargeToday,GridChargeToday,"
                             "GridDischargeToday,BatteryPercent"));
    EXPECT_EQ(days[1].join(QLatin1Char(',')), QStringLiteral("2026-12-05,4100,3000,12.5,0,81"));
    EXPECT_EQ(days[2].join(QLatin1Char(',')), QStringLiteral("2026-12-06,900,,,,40"));
    EXPECT_EQ(days[3][0], QStringLiteral("2026-12-07"));
    EXPECT_EQ(days[3][1], QStringLiteral("500"));
    EXPECT_EQ(days[3][3], QString()); // no night baseline: the lifetime is no day's figure
    EXPECT_EQ(days[3][5], QStringLiteral("57"));
    EXPECT_EQ(Export(ExportKind::Days, QDate(2026, 12, 6)).size(), 1 + 2);
    EXPECT_EQ(ErrorLogEntries(), 0);
}

TEST_F(HistoryTest, CyclesOlderThanNinetyDaysAreThinnedToOneInFiveMinutes) {
    const double soc = 50;
    ErrorLog log(clock, prompter);
    clock.set(QDateTime(QDate(2026, 8, 1), QTime(10, 0)));
    {
        HistoryStore store(clock, log, {});
        store.start();
        for (int i = 0; i < 180; ++i) { // half an hour at 10 s
            store.addCycle(SocCycle(clock.now(), soc));
            clock.advance(10000);
        }
    }
    clock.set(QDateTime(QDate(2026, 12, 7), QTime(10, 0)));
    HistoryStore store(clock, log, {});
    store.start();
    store.addCycle(SocCycle(clock.now(), soc));
    store.flush();
    EXPECT_TRUE(WaitUntil([] { return Export(ExportKind::Cycles).size() == 1 + 6 + 1; }));
}

TEST_F(HistoryTest, AStoreThatCannotBeWrittenCostsNoPollAndIsReportedOnce) {
    QDir().mkdir(QStringLiteral("history.sqlite"));
    Shell shell(clock, prompter);
    QStringList status;
    shell.status().echo = [&status](const QString& line) { status << line; };
    shell.Form_Load(QStringLiteral("127.0.0.1"));
    const auto store = StartHistory(shell, clock);
    Poll(shell, 3);
    store->flush();
    store->flush();
    EXPECT_EQ(CrLfLines(QStringLiteral("Battery.txt")).size(), 16);
    EXPECT_EQ(CrLfLines(QStringLiteral("BatterySoC.log")).size(), 1);
    EXPECT_EQ(ErrorLogEntries(), 1);
    EXPECT_EQ(status.filter(QStringLiteral("history.sqlite")).size(), 1);

    // Once the folder is gone the rows kept meanwhile reach the new file.
    QDir().rmdir(QStringLiteral("history.sqlite"));
    store->flush();
    EXPECT_EQ(Export(ExportKind::Cycles).size(), 1 + 4);
}

TEST_F(HistoryTest, ADamagedStoreIsMovedAsideAndANewOneStarted) {
    WriteAll(QStringLiteral("history.sqlite"), QByteArray(8192, 'x'));
    Shell shell(clock, prompter);
    shell.Form_Load(QStringLiteral("127.0.0.1"));
    const auto store = StartHistory(shell, clock);
    Poll(shell, 2);
    store->flush();
    store->flush();
    const QStringList aside = QDir().entryList({QStringLiteral("history.sqlite.corrupt-*")});
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(ReadAll(aside.first()), QByteArray(8192, 'x'));
    EXPECT_EQ(Export(ExportKind::Cycles).size(), 1 + 3);
    EXPECT_EQ(ErrorLogEntries(), 1);
}

TEST_F(HistoryTest, ImportReadsTheDatesOfOtherLocalesAndOfAServiceWithoutOne) {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    WriteAll(QStringLiteral("battery daily summary.log"),
             "12/5/26 11:59:50 PM\r\nPVChargeToday = 7\r\n\r\n"
             "2026-12-06 23:59:51\r\nPVChargeToday = 8\r\n\r\nnot a header\r\nPVChargeToday = 9\r\n");
    WriteAll(QStringLiteral("BatterySoC.log"),
             "12/6/26 12:30:00 AM 35\r\n12/6/26 1:00:00 PM 36\r\nbroken\r\n");
    ErrorLog log(clock, prompter);
    HistoryOptions options;
    options.summaryLog = QStringLiteral("battery daily summary.log");
    options.socLog = QStringLiteral("BatterySoC.log");
    {
        HistoryStore store(clock, log, options);
        store.start();
        store.flush();
    }
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
    const QList<QStringList> days = Export(ExportKind::Days);
    ASSERT_EQ(days.size(), 1 + 2);
    EXPECT_EQ(days[1].mid(0, 2), QStringList({QStringLiteral("2026-12-05"), QStringLiteral("7")}));
    EXPECT_EQ(days[2].mid(0, 2), QStringList({QStringLiteral("2026-12-06"), QStringLiteral("9")}));
    const QList<QStringList> cycles = Export(ExportKind::Cycles);
    ASSERT_EQ(cycles.size(), 1 + 2);
    EXPECT_EQ(cycles[1][0], QStringLiteral("2026-12-06T00:30:00+01:00"));
    EXPECT_EQ(cycles[2][0], QStringLiteral("2026-12-06T13:00:00+01:00"));
}

TEST_F(HistoryTest, AFileLockedByAnotherProgramWaitsAndLosesNoCycle) {
    const double soc = 70;
    ErrorLog log(clock, prompter);
    HistoryStore store(clock, log, {});
    store.start();
    store.flush();
    {
        Sqlite other;
        DbError error;
        ASSERT_TRUE(other.open(QStringLiteral("history.sqlite"), false, 0, &error));
        ASSERT_TRUE(other.exec("BEGIN EXCLUSIVE", &error));
        for (int i = 0; i < 3; ++i) {
            store.addCycle(SocCycle(clock.now(), soc));
            clock.advance(1000);
            store.flush();
        }
        // The report reaches the log from the writer through the event loop.
        EXPECT_TRUE(WaitUntil([] { return ErrorLogEntries() == 1; }));
        other.exec("ROLLBACK", &error);
    }
    store.flush();
    EXPECT_EQ(Export(ExportKind::Cycles).size(), 1 + 3);
    EXPECT_EQ(ErrorLogEntries(), 1);

    // Still locked when the program ends: the rows waiting are said, with their count.
    QStringList said;
    {
        Sqlite other; // gone after the store: locked to its end
        HistoryStore ending(clock, log, {});
        ending.notify = [&said](const QString& text) { said << text; };
        ending.start();
        ending.flush();
        DbError error;
        ASSERT_TRUE(other.open(QStringLiteral("history.sqlite"), false, 0, &error));
        ASSERT_TRUE(other.exec("BEGIN EXCLUSIVE", &error));
        ending.addCycle(SocCycle(clock.now(), soc));
        ending.addCycle(SocCycle(clock.now().addSecs(1), soc));
    }
    EXPECT_TRUE(
        said.contains(QStringLiteral("2 rows of history could not be written before the end and are lost")))
        << said.join('|').toStdString();
}

TEST_F(HistoryTest, SlowCyclesAreGatheredIntoOneCommitAndNoneWaitsPastItsLimit) {
    const double soc = 70;
    ErrorLog log(clock, prompter);
    HistoryOptions options;
    options.flushMs = 20;
    options.longestWaitMs = 700;
    HistoryStore store(clock, log, options);
    store.start();
    store.flush();
    const auto stored = [] { return Export(ExportKind::Cycles).size() - 1; };

    // Fewer than a batch: past the flush interval they still wait, and a window opened meanwhile
    // is given them; then they go in together.
    for (int i = 0; i < 3; ++i) {
        store.addCycle(SocCycle(clock.now(), soc));
        clock.advance(10000);
    }
    EXPECT_FALSE(WaitUntil([&] { return stored() > 0; }, 300));
    EXPECT_EQ(store.waitingCycles().size(), 3u);
    ASSERT_TRUE(WaitUntil([&] { return stored() == 3; }, 3000));

    // A full batch goes as soon as the flush interval is up.
    for (int i = 0; i < 30; ++i) {
        store.addCycle(SocCycle(clock.now(), soc));
        clock.advance(1000);
    }
    QElapsedTimer batch;
    batch.start();
    ASSERT_TRUE(WaitUntil([&] { return stored() == 33; }, 3000));
    EXPECT_LT(batch.elapsed(), 500);
}

TEST_F(HistoryTest, RowsStillGatheredAtTheEndAreWritten) {
    const double soc = Absent();
    ErrorLog log(clock, prompter);
    {
        HistoryStore store(clock, log, {});
        store.start();
        store.addCycle(SocCycle(clock.now(), soc));
    }
    EXPECT_EQ(Export(ExportKind::Cycles).size(), 1 + 1);
}

#include "history/history_file.h"
#include "history/history_options.h"
#include "history_fixture.h"

#include <QTemporaryDir>

#include <sys/mount.h>

namespace {

// The working folder on a small file system of its own, when this user may mount one.
class SmallFolderTest : public HistoryTest {
protected:
    void SetUp() override {
        HistoryTest::SetUp();
        QDir().mkdir(QStringLiteral("small"));
        mounted_ = QDir(QStringLiteral("small")).absolutePath();
        if (mount("tmpfs", mounted_.toLocal8Bit().constData(), "tmpfs", 0, "size=4m") != 0) {
            mounted_.clear();
            GTEST_SKIP() << "no tmpfs can be mounted here";
        }
        QDir::setCurrent(mounted_);
    }
    void TearDown() override {
        QDir::setCurrent(QStringLiteral(".."));
        if (!mounted_.isEmpty()) {
            umount2(mounted_.toLocal8Bit().constData(), MNT_DETACH);
        }
        HistoryTest::TearDown();
    }

    QString mounted_;
};

} // namespace

TEST_F(SmallFolderTest, TheStoreYieldsTheRoomToTheClassicFilesAndComesBackWithIt) {
    // 4 MiB, a reserve of 2 and a file filling all but about 1: the store waits from the start.
    WriteAll(QStringLiteral("filler"), QByteArray(3 << 20, 'f'));
    Shell shell(clock, prompter);
    QStringList status;
    shell.status().echo = [&status](const QString& line) { status << line; };
    shell.Form_Load(QStringLiteral("127.0.0.1"));
    HistorySettings settings;
    settings.reserveMb = 2;
    const auto store = StartHistory(shell, clock, settings);
    QByteArray battery;
    for (int i = 0; i < 5; ++i) {
        Poll(shell, 1);
        // The battery file is replaced every cycle: it follows the cycle's time.
        EXPECT_NE(ReadAll(QStringLiteral("Battery.txt")), battery);
        battery = ReadAll(QStringLiteral("Battery.txt"));
        store->flush();
    }
    EXPECT_FALSE(QFile::exists(QStringLiteral("history.sqlite")));
    ASSERT_TRUE(WaitUntil([&] { return status.filter(QStringLiteral("less than 2 MiB free")).size() == 1; }));

    // Room again: the cycles kept meanwhile go in, and the status says so once.
    QFile::remove(QStringLiteral("filler"));
    Poll(shell, 1);
    store->flush();
    EXPECT_TRUE(WaitUntil([&] { return status.filter(QStringLiteral("is written again")).size() == 1; }));
    EXPECT_EQ(Export(ExportKind::Cycles).size(), 1 + 7);
    EXPECT_EQ(ErrorLogEntries(), 1);
}

TEST_F(HistoryTest, AStoreOfTheEarlierLayoutIsReadThenConvertedAndKeepsEveryRow) {
    {
        Sqlite old;
        DbError error;
        ASSERT_TRUE(old.open(QStringLiteral("history.sqlite"), false, 0, &error));
        ASSERT_TRUE(
            old.exec("PRAGMA journal_mode=WAL;"
                     "CREATE TABLE cycles(time INTEGER PRIMARY KEY,BatteryPercent REAL,PVCharge REAL,"
                     "PVDischarge REAL,GridCharge REAL,GridDischarge REAL,CurrentLevelKWh REAL,"
                     "PVChargeLife REAL,PVDischargeLife REAL,GridChargeLife REAL,GridDischargeLife REAL);"
                     "CREATE TABLE daily(date TEXT PRIMARY KEY,PVChargeToday REAL,PVDischargeToday REAL,"
                     "GridChargeToday REAL,GridDischargeToday REAL,BatteryPercent REAL) WITHOUT ROWID;"
                     "INSERT INTO daily VALUES('2026-12-06',4100,3000,12.5,0,81);"
                     "PRAGMA user_version=1",
                     &error));
        ASSERT_TRUE(old.exec("BEGIN", &error));
        Statement insert;
        ASSERT_TRUE(insert.prepare(old, "INSERT INTO cycles VALUES(?,?,?,?,?,?,?,?,?,?,?)", &error));
        for (int i = 0; i < 60000; ++i) { // more than one batch of the conversion
            insert.bind(1, clock.now().toMSecsSinceEpoch() + i * 1000LL);
            insert.bind(2, 50.0 + i % 7);
            insert.bind(3, double(i % 5000));
            for (int c = 4; c <= 6; ++c) {
                insert.bindNull(c);
            }
            insert.bind(7, 5836.8);
            insert.bind(8, 1500000.0 + i);
            for (int c = 9; c <= 11; ++c) {
                insert.bind(c, 0.0);
            }
            ASSERT_TRUE(insert.run(&error));
        }
        ASSERT_TRUE(old.exec("COMMIT", &error));
    }
    // Kept readable until a running program converts it.
    const QList<QStringList> before = Export(ExportKind::Cycles);
    ASSERT_EQ(before.size(), 1 + 60000);
    EXPECT_EQ(before[3].join(QLatin1Char(',')),
              QStringLiteral("2026-12-07T21:04:07+01:00,52,2,,,,5836.8,1500002,0,0,0"));

    ErrorLog log(clock, prompter);
    const qint64 start = clock.now().toMSecsSinceEpoch();
    {
        HistoryStore store(clock, log, {});
        store.start();
        // Two cycles in one millisecond: both stay.
        store.addCycle(CycleRow{start - 1, {}, 0});
        store.addCycle(CycleRow{start - 1, {}, 0});
    }
    const QList<QStringList> after = Export(ExportKind::Cycles);
    ASSERT_EQ(after.size(), 1 + 2 + 60000);
    EXPECT_EQ(after.mid(3), before.mid(1));
    EXPECT_EQ(Export(ExportKind::Days)[1].join(QLatin1Char(',')),
              QStringLiteral("2026-12-06,4100,3000,12.5,0,81"));
    Sqlite converted;
    DbError error;
    ASSERT_TRUE(converted.open(QStringLiteral("history.sqlite"), true, 0, &error));
    EXPECT_EQ(converted.value("SELECT COUNT(*) FROM sqlite_master WHERE name='cycles'", -1), 0);
    EXPECT_LT(QFileInfo(QStringLiteral("history.sqlite")).size(), 60000 * 30);
    EXPECT_EQ(QDir().entryList({QStringLiteral("*.converting*")}), QStringList());
    EXPECT_EQ(ErrorLogEntries(), 0);
}

TEST(HistorySettingsTest, TheHistorySectionSetsTheReserveAndTheCapInMiB) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("modbusclient.conf"));
    HistorySettings settings;
    QString error;
    ASSERT_TRUE(ReadHistorySettings(path, &settings, &error)); // no file: the defaults
    EXPECT_EQ(settings.reserveMb, 64);
    WriteAll(path, "host = 10.0.0.5\n[history]\nreserve_mb = 16\nmax_mb = 2048\n");
    ASSERT_TRUE(ReadHistorySettings(path, &settings, &error)) << error.toStdString();
    HistoryOptions options;
    ApplyHistorySettings(settings, &options);
    EXPECT_EQ(options.reserveBytes, qint64(16) << 20);
    EXPECT_EQ(options.maxBytes, qint64(2048) << 20);
    WriteAll(path, "[history]\nreserve_mb = lots\n");
    EXPECT_FALSE(ReadHistorySettings(path, &settings, &error));
    EXPECT_EQ(error, QStringLiteral("[history] reserve_mb must be a whole number of MiB, 0 or more"));
}

TEST_F(HistoryTest, AStoreOverItsCapThinsAndThenDropsItsOldestCyclesButKeepsTheLastDay) {
    const qint64 start = clock.now().toMSecsSinceEpoch();
    {
        HistoryFile file;
        DbError error;
        bool fresh = false;
        ASSERT_TRUE(file.open(QStringLiteral("history.sqlite"), &fresh, &error) && file.markImported(&error));
        std::vector<CycleRow> rows(3 * 8640); // three days at 10 s
        for (size_t i = 0; i < rows.size(); ++i) {
            rows[i].timeMs = start + qint64(i) * 10000;
            rows[i].set(0, 50);
        }
        ASSERT_TRUE(file.begin(&error) && file.insertCycles(rows, &error) && file.commit(&error));
    }
    ErrorLog log(clock, prompter);
    HistoryOptions options;
    options.maxBytes = 1; // no store fits: the last day stays all the same
    HistoryStore store(clock, log, options);
    store.start();
    CycleRow last;
    last.timeMs = start + 3 * 8640 * 10000LL;
    last.set(0, 51);
    store.addCycle(last);
    store.flush();
    const auto cycles = [] { return Export(ExportKind::Cycles).size() - 1; };
    ASSERT_TRUE(WaitUntil([&] { return cycles() <= 8641; }, 20000));
    EXPECT_GE(cycles(), 23 * 360);
    const QList<QStringList> kept = Export(ExportKind::Cycles);
    EXPECT_EQ(kept.last()[1], QStringLiteral("51"));
}

TEST_F(SmallFolderTest, AFullDiskStopsTheStoreOnceAndItsLogIsCutBackWhenRoomReturns) {
    // Another program's file takes most of the disk; once it goes there is room for the log.
    WriteAll(QStringLiteral("filler"), QByteArray(3 << 20, 'f'));
    ErrorLog log(clock, prompter);
    HistoryOptions options;
    options.reserveBytes = 0; // only the disk itself says no
    HistoryStore store(clock, log, options);
    QStringList said; // the error log itself may find no room
    store.notify = [&said](const QString& line) { said << line; };
    store.start();
    std::vector<CycleRow> rows(20000);
    for (int round = 0; round < 40 && said.isEmpty(); ++round) {
        for (CycleRow& row : rows) {
            row.timeMs = clock.now().toMSecsSinceEpoch();
            for (int i = 0; i < CycleRow::kFigures; ++i) {
                row.set(i, double(std::rand() % 100000)); // packs poorly: fills the 4 MiB soon
            }
            clock.advance(7);
            store.addCycle(row);
        }
        store.flush();
        QCoreApplication::processEvents();
    }
    ASSERT_TRUE(WaitUntil([&] { return !said.isEmpty(); })) << "the disk never filled";
    EXPECT_TRUE(said[0].contains(QStringLiteral("history.sqlite"))) << said[0].toStdString();
    // The store says so once, however many batches fail after.
    store.flush();
    store.flush();
    QCoreApplication::processEvents();
    EXPECT_EQ(said.size(), 1);

    QFile::remove(QStringLiteral("filler"));
    store.addCycle(rows[0]);
    store.flush();
    ASSERT_TRUE(WaitUntil([&] { return said.size() == 2; }));
    EXPECT_EQ(said[1], QStringLiteral("history.sqlite is written again"));
    EXPECT_EQ(QFileInfo(QStringLiteral("history.sqlite-wal")).size(), 0);
}

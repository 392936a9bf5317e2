#include "history/history_file.h"
#include "history/history_reader.h"
#include "history_fixture.h"

TEST(CyclePackingTest, EveryFigureComesBackWhateverItsSignSizeOrAbsence) {
    std::vector<CycleRow> rows(4);
    rows[0].timeMs = 1765000000123;
    rows[0].set(0, 57);
    rows[0].set(5, 5836.8);
    rows[0].set(6, 999999999999.0);
    rows[1].timeMs = rows[0].timeMs; // the same millisecond
    rows[1].set(1, -2450);
    rows[2].timeMs = rows[0].timeMs - 3600000; // a clock set back
    rows[2].set(0, 0.5);
    rows[2].set(6, 0);
    rows[3].timeMs = rows[0].timeMs + 10;
    const QByteArray packed = PackCycles(rows.data(), rows.size());
    EXPECT_LT(packed.size(), 4 * 20);
    std::vector<CycleRow> back;
    ASSERT_TRUE(
        UnpackCycles(packed.constData(), int(packed.size()), [&](const CycleRow& r) { back.push_back(r); }));
    ASSERT_EQ(back.size(), rows.size());
    for (size_t r = 0; r < rows.size(); ++r) {
        EXPECT_EQ(back[r].timeMs, rows[r].timeMs);
        EXPECT_EQ(back[r].present, rows[r].present);
        for (int i = 0; i < CycleRow::kFigures; ++i) {
            if (rows[r].has(i)) {
                EXPECT_EQ(back[r].figure(i), rows[r].figure(i)) << r << " " << i;
            }
        }
    }
    EXPECT_EQ(back[0].figure(5), 5836.8);
    EXPECT_EQ(back[2].figure(6), 0);
    EXPECT_FALSE(UnpackCycles(packed.constData(), int(packed.size()) - 1, [](const CycleRow&) {}));
}

TEST_F(HistoryTest, ExportedTimesFollowTheZonesOffsetAcrossTheAutumnChange) {
    // 25 October 2026: 03:00 summer time becomes 02:00 winter time.
    const qint64 start = QDateTime(QDate(2026, 10, 25), QTime(1, 50)).toMSecsSinceEpoch();
    {
        HistoryFile file;
        DbError error;
        bool fresh = false;
        std::vector<CycleRow> rows(180); // an hour and a half at 30 s
        for (size_t i = 0; i < rows.size(); ++i) {
            rows[i].timeMs = start + qint64(i) * 30000;
        }
        ASSERT_TRUE(file.open(QStringLiteral("history.sqlite"), &fresh, &error) && file.begin(&error) &&
                    file.insertCycles(rows, &error) && file.commit(&error));
    }
    QStringList times;
    for (const QStringList& row : Export(ExportKind::Cycles)) {
        times << row[0];
    }
    EXPECT_EQ(times[1], QStringLiteral("2026-10-25T01:50:00+02:00"));
    const qsizetype change = times.indexOf(QStringLiteral("2026-10-25T02:00:00+01:00"));
    EXPECT_EQ(times[change - 1], QStringLiteral("2026-10-25T02:59:30+02:00"));
    EXPECT_EQ(times.last(), QStringLiteral("2026-10-25T02:19:30+01:00"));
}

TEST_F(HistoryTest, AMinuteSplitByARestartIsChartedFromAllItsCycles) {
    ErrorLog log(clock, prompter);
    clock.set(QDateTime(QDate(2026, 12, 7), QTime(10, 0, 5)));
    for (const double power : {1000.0, 3000.0}) { // one run, then the next, in the same minute
        HistoryStore store(clock, log, {});
        store.start();
        CycleRow row;
        row.timeMs = clock.now().toMSecsSinceEpoch();
        row.set(0, power / 100);
        row.set(1, power);
        store.addCycle(row);
        clock.advance(20000);
    }
    HistoryReader reader;
    DbError error;
    std::vector<MinuteRow> minutes;
    ASSERT_TRUE(reader.open(QStringLiteral("history.sqlite"), &error));
    ASSERT_TRUE(
        reader.minutes(DayStartMs(QDate(2026, 12, 7)), DayStartMs(QDate(2026, 12, 8)), &minutes, &error));
    ASSERT_EQ(minutes.size(), 1u);
    EXPECT_EQ(minutes[0].count, 2);
    EXPECT_EQ(minutes[0].mean(1), 2000);
    EXPECT_EQ(minutes[0].mean(0), 20);
    EXPECT_EQ(minutes[0].low[1], 1000);
    EXPECT_EQ(minutes[0].high[1], 3000);
    EXPECT_TRUE(std::isnan(minutes[0].mean(2))); // a figure no cycle had
}

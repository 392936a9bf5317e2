#include "app/shell.h"
#include "common/test_support.h"
#include "energy/battery_file.h"
#include "energy/night.h"
#include "support/clock.h"
#include "support/file_utils.h"
#include "support/prompter.h"

namespace {

const QDate kDay(2026, 12, 7);

class MidnightTest : public InTempDir {
protected:
    void SetUp() override {
        InTempDir::SetUp();
        clock.set(QDateTime(kDay, QTime(12, 0, 0)));
        shell.Form_Load(QString());
    }

    // The battery state file as a poll cycle leaves it, with the given lifetime PV charge.
    void WriteBatteryFile(const QString& pvChargeLife) {
        shell.form().PVChargeLife = pvChargeLife;
        ASSERT_TRUE(writebattery(shell.form(), clock, shell.log()));
        BinaryCopyFile(shell.log(), QStringLiteral("Battery.txt.tmp"), QStringLiteral("Battery.txt"));
    }

    // The save failures shown; the minute poll's "check the server" prompts are not counted, as
    // nothing is connected here.
    QStringList SaveFailures() const { return prompter.messages.filter(QStringLiteral("Error saving")); }

    // One Timer2 tick at the given time of the day that ends.
    void MinuteTick(const QTime& t) {
        clock.set(QDateTime(kDay, t));
        shell.Timer2_Timer();
    }

    void TickAt(const QDateTime& t) {
        clock.set(t);
        shell.Timer3_Timer();
    }

    SettableClock clock;
    RecordingPrompter prompter;
    Shell shell{clock, prompter};
};

QStringList SummaryLines() {
    return CrLfLines(QString::fromLatin1(kDailySummaryFile));
}

} // namespace

TEST_F(MidnightTest, TheLastMinuteArmsTheSaveAndMidnightSavesOnceWithTheLastPollAsHeader) {
    MinuteTick(QTime(23, 58, 59));
    EXPECT_FALSE(shell.timer3().isActive()) << "armed before the last minute";

    WriteBatteryFile(QStringLiteral("1234"));
    MinuteTick(QTime(23, 59, 30));
    ASSERT_TRUE(shell.timer3().isActive());
    EXPECT_EQ(shell.timer3().timerType(), Qt::PreciseTimer);

    // Ticks before midnight do nothing.
    TickAt(QDateTime(kDay, QTime(23, 59, 59)));
    EXPECT_FALSE(QFile::exists(QString::fromLatin1(kDailySummaryFile)));

    TickAt(QDateTime(kDay.addDays(1), QTime(0, 0, 0)));
    EXPECT_FALSE(shell.timer3().isActive());
    EXPECT_EQ(ReadAll(QString::fromLatin1(kNightFile)), ReadAll(QStringLiteral("Battery.txt")));

    const QStringList battery = CrLfLines(QStringLiteral("Battery.txt"));
    ASSERT_EQ(battery.size(), 16);
    QStringList block = SummaryLines();
    ASSERT_EQ(block.size(), 18);
    // The header is the day that ended, not the new one.
    EXPECT_EQ(block.first(), QStringLiteral("07/12/2026 23:59:30"));
    EXPECT_EQ(block.mid(1, 16), battery);
    EXPECT_EQ(block.last(), QString());
    EXPECT_TRUE(ReadAll(QString::fromLatin1(kDailySummaryFile)).endsWith("\r\n\r\n"));

    // The new baseline is loaded at once.
    EXPECT_EQ(shell.form().NightPVChargeLife, QStringLiteral("1234"));

    // A tick already queued when the timer stopped must not save the night twice.
    TickAt(QDateTime(kDay.addDays(1), QTime(0, 0, 1)));
    EXPECT_EQ(SummaryLines().size(), 18);
    EXPECT_TRUE(SaveFailures().isEmpty());

    // The next night appends its own block.
    WriteBatteryFile(QStringLiteral("2000"));
    clock.set(QDateTime(kDay.addDays(1), QTime(23, 59, 45)));
    shell.Timer2_Timer();
    TickAt(QDateTime(kDay.addDays(2), QTime(0, 0, 0)));
    block = SummaryLines();
    ASSERT_EQ(block.size(), 36);
    EXPECT_EQ(block.at(18), QStringLiteral("08/12/2026 23:59:45"));
    EXPECT_EQ(shell.form().NightPVChargeLife, QStringLiteral("2000"));
}

TEST_F(MidnightTest, ALateTickStillSavesTheNightOnce) {
    WriteBatteryFile(QStringLiteral("77"));
    MinuteTick(QTime(23, 59, 10));
    ASSERT_TRUE(shell.timer3().isActive());

    // The tick for 00:00:00 never came; the next one is two seconds late.
    TickAt(QDateTime(kDay.addDays(1), QTime(0, 0, 2)));
    EXPECT_FALSE(shell.timer3().isActive());
    EXPECT_EQ(SummaryLines().size(), 18);
    EXPECT_EQ(shell.form().NightPVChargeLife, QStringLiteral("77"));

    TickAt(QDateTime(kDay.addDays(1), QTime(0, 0, 3)));
    EXPECT_EQ(SummaryLines().size(), 18);
}

TEST_F(MidnightTest, AMissingBatteryFileIsReportedAndTheOldSnapshotStillLoads) {
    WriteAll(QStringLiteral("BatteryNight.txt"), "PVChargeLife = 500\r\nGridChargeLife = 42\r\n");
    MinuteTick(QTime(23, 59, 5));
    ASSERT_FALSE(QFile::exists(QStringLiteral("Battery.txt")));
    shell.form().NightPVChargeLife.clear();
    shell.form().NightGridChargeLife.clear();

    TickAt(QDateTime(kDay.addDays(1), QTime(0, 0, 0)));
    ASSERT_EQ(SaveFailures().size(), 1);
    EXPECT_EQ(SaveFailures().first(),
              QStringLiteral("Error saving night file and log File not found\r\n"
                             "manually save the current Battery.txt file in as night and in the log"));
    EXPECT_FALSE(shell.timer3().isActive());
    EXPECT_FALSE(QFile::exists(QString::fromLatin1(kDailySummaryFile)));
    // The snapshot was left as it was and read again.
    EXPECT_EQ(ReadAll(QStringLiteral("BatteryNight.txt")),
              QByteArray("PVChargeLife = 500\r\nGridChargeLife = 42\r\n"));
    EXPECT_EQ(shell.form().NightPVChargeLife, QStringLiteral("500"));
    EXPECT_EQ(shell.form().NightGridChargeLife, QStringLiteral("42"));
    // The failure is also logged and shown in the status pane.
    EXPECT_EQ(CrLfLines(QStringLiteral("ModbusClient errors.log"))
                  .filter(QStringLiteral("BatteryNight.txt"))
                  .size(),
              1);
    EXPECT_TRUE(shell.form().txtStatus.contains(QStringLiteral("Could not write BatteryNight.txt")));
}

TEST_F(MidnightTest, StartUpReadsTheSnapshotWhateverItsLetterCase) {
    WriteAll(QStringLiteral("batterynight.TXT"), "PVDischargeLife = 9\r\nGridDischargeLife = 10\r\n");
    Shell other(clock, prompter);
    other.Form_Load(QString());
    EXPECT_EQ(other.form().NightPVDischargeLife, QStringLiteral("9"));
    EXPECT_EQ(other.form().NightGridDischargeLife, QStringLiteral("10"));
    EXPECT_EQ(other.form().NightPVChargeLife, QString());
}

TEST_F(MidnightTest, AMissedLastMinuteStillSavesThatNightOnceAndOnlyANightSeenRunning) {
    WriteBatteryFile(QStringLiteral("88"));
    MinuteTick(QTime(23, 58, 30));
    ASSERT_FALSE(shell.timer3().isActive());

    // The tick of 23:59 was lost (the control editor held Timer2, or the machine slept); the
    // first tick of the new day saves at once, under the last poll of the day that ended.
    clock.set(QDateTime(kDay.addDays(1), QTime(0, 1, 5)));
    shell.Timer2_Timer();
    QStringList block = SummaryLines();
    ASSERT_EQ(block.size(), 18);
    EXPECT_EQ(block.first(), QStringLiteral("07/12/2026 23:58:30"));
    EXPECT_EQ(shell.form().NightPVChargeLife, QStringLiteral("88"));

    // At most one save for that date, from whichever timer ticks next.
    clock.set(QDateTime(kDay.addDays(1), QTime(0, 1, 6)));
    shell.Timer1_Timer();
    shell.Timer3_Timer();
    clock.set(QDateTime(kDay.addDays(1), QTime(0, 2, 5)));
    shell.Timer2_Timer();
    EXPECT_EQ(SummaryLines().size(), 18);

    // A program started after midnight saves no night it never saw.
    clock.set(QDateTime(kDay.addDays(2), QTime(0, 0, 30)));
    Shell later(clock, prompter);
    later.Form_Load(QString());
    clock.set(QDateTime(kDay.addDays(2), QTime(0, 1, 30)));
    later.Timer2_Timer();
    later.Timer1_Timer();
    EXPECT_EQ(SummaryLines().size(), 18);
    EXPECT_TRUE(SaveFailures().isEmpty());
}

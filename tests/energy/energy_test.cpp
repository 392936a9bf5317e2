#include "decode/block_b.h"
#include "decode/decode_fixture.h"
#include "energy/battery_file.h"
#include "energy/night.h"

#include <QDir>
#include <QFile>

namespace {

class Energy : public DecodeFixture {
protected:
    void SetNight(const QString& pvCharge, const QString& pvDischarge, const QString& gridCharge,
                  const QString& gridDischarge) {
        form.NightPVChargeLife = pvCharge;
        form.NightPVDischargeLife = pvDischarge;
        form.NightGridChargeLife = gridCharge;
        form.NightGridDischargeLife = gridDischarge;
    }
    QStringList Night() const {
        return {form.NightPVChargeLife, form.NightPVDischargeLife, form.NightGridChargeLife,
                form.NightGridDischargeLife};
    }
    QStringList Today() const {
        return {form.PVChargeToday, form.PVDischargeToday, form.GridChargeToday, form.GridDischargeToday};
    }
};

const QString kSummary = QString::fromLatin1(kDailySummaryFile);
const QString kNight = QString::fromLatin1(kNightFile);

} // namespace

TEST_F(Energy, TodayIsLifetimeLessTheNightSnapshot) {
    const struct {
        QStringList night; // PV charge, PV discharge, grid charge, grid discharge
        QStringList today;
    } cases[] = {
        // No snapshot yet.
        {{"", "", "", ""}, {"1500", "700", "42", "65536"}},
        {{"1000", " 200 kWh", "abc", "0.5"}, {"500", "500", "42", "65535.5"}},
        // A counter that went back is not clamped.
        {{"1000", "700", "100", "70000"}, {"500", "0", "-58", "-4464"}},
    };
    QString status = QStringLiteral("Polled 95 registers at 07/12/2026 21:04:04\r\n");
    form.txtStatus = status;
    for (const auto& c : cases) {
        SetNight(c.night[0], c.night[1], c.night[2], c.night[3]);
        DecodeBlockB(ctx, ReadResponse(2, BlockBImage()));
        status += QStringLiteral("Polled 24 registers at ") + Now() + QStringLiteral("\r\n");
        EXPECT_EQ(form.txtStatus, status);
        EXPECT_EQ(form.txtStatusSelStart, form.txtStatus.size());
        EXPECT_TRUE(reads.isEmpty()); // the cycle ends here
        // The grid pair stands discharge before charge in the block.
        EXPECT_EQ(form.PVChargeLife, QStringLiteral("1500"));
        EXPECT_EQ(form.PVDischargeLife, QStringLiteral("700"));
        EXPECT_EQ(form.GridDischargeLife, QStringLiteral("65536"));
        EXPECT_EQ(form.GridChargeLife, QStringLiteral("42"));
        EXPECT_EQ(Today(), c.today);
        // Written in full and copied into place.
        EXPECT_EQ(ReadAll(QStringLiteral("Battery.txt")), ReadAll(QStringLiteral("Battery.txt.tmp")));
        const QStringList lines = CrLfLines(form.BatteryToday);
        ASSERT_EQ(lines.size(), 16);
        EXPECT_EQ(lines[4], QStringLiteral("GridChargeToday = ") + c.today[2]);
        EXPECT_EQ(lines[10], QStringLiteral("GridDischargeToday = ") + c.today[3]);
    }
}

TEST_F(Energy, LifetimeCountersKeepTheirFullSizeInDecimalText) {
    QList<int> r = BlockBImage();
    r[0] = 1; // 2^48
    r[1] = r[2] = r[3] = 0;
    for (int k = 6; k < 10; ++k) {
        r[k] = 65535;
    }
    DecodeBlockB(ctx, ReadResponse(2, r));
    EXPECT_EQ(form.PVChargeLife, QStringLiteral("281474976710656"));
    EXPECT_EQ(form.PVDischargeLife, QStringLiteral("1.84467440737096E+19"));
}

TEST_F(Energy, StateFileBeforeAnyPollHasSixteenLinesInOrder) {
    form.BatteryToday = QStringLiteral("day.txt");
    ASSERT_TRUE(writebattery(form, clock, log));
    EXPECT_FALSE(QFile::exists(QStringLiteral("day.tmp"))); // appended to the whole name
    const QByteArray bytes = ReadAll(QStringLiteral("day.txt.tmp"));
    EXPECT_EQ(bytes.count("\r\n"), 16);
    EXPECT_EQ(bytes.count('\n'), 16);
    EXPECT_EQ(
        CrLfLines(QStringLiteral("day.txt.tmp")),
        (QStringList{"BatterySize = ", "PVCharge = ", "GridCharge = ", "PVChargeToday = ",
                     "GridChargeToday = ", "PVChargeLife = ", "GridChargeLife = ", "PVDischarge = ",
                     "GridDischarge = ", "PVDischargeToday = ", "GridDischargeToday = ", "PVDischargeLife = ",
                     "GridDischargeLife = ", "BatteryPercent = ", "CurrentLevelKWh = ", "Date = " + Now()}));
    EXPECT_EQ(LogEntries(), 0);
}

TEST_F(Energy, UnwritableTemporaryFileLeavesTheStateFileAsItWas) {
    const QByteArray old = BatteryFileBytes(form, clock);
    WriteAll(form.BatteryToday, old);
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("Battery.txt.tmp")));
    form.RegisterDetails = QStringLiteral("regs.txt");
    clock.advance(60000);
    DecodeBlockB(ctx, ReadResponse(2, BlockBImage()));
    EXPECT_EQ(ReadAll(form.BatteryToday), old);
    // One entry from the skipped copy, none from a copy that was tried.
    EXPECT_EQ(LogEntries(), 1);
    EXPECT_TRUE(ReadAll(QStringLiteral("ModbusClient errors.log")).contains("writebattery"));
    EXPECT_TRUE(QFile::exists(form.RegisterDetails)); // the listing still follows

    form.BatteryToday = QStringLiteral("gone/Battery.txt");
    EXPECT_FALSE(writebattery(form, clock, log));
    EXPECT_EQ(LogEntries(), 2);
}

TEST_F(Energy, NightSnapshotLineRules) {
    SetNight("keep", "keep", "keep", "keep");
    WriteAll(QStringLiteral("batterynight.txt"),
             "BatterySize = 10240\r\n"
             "PVChargeLife = 111\r\n"
             "PVChargeLife = 123456\r\n" // a later line wins
             "GridChargeLife = \r\n"     // nothing after the blank
             "pvdischargelife=5\r\n"     // any letter case, blanks optional
             "Date = 06/12/2026 23:59:58\r\n"
             "GridDischargeLife = 77"); // cut short: its line never ended
    readNight(form);
    EXPECT_EQ(Night(), (QStringList{"123456", "5", "", ""}));

    // A missing snapshot changes nothing.
    QFile::remove(QStringLiteral("batterynight.txt"));
    readNight(form);
    EXPECT_EQ(Night(), (QStringList{"123456", "5", "", ""}));

    // What is no counter is no baseline: the day is unknown, never the lifetime.
    WriteAll(QStringLiteral("batterynight.txt"), "PVChargeLife = abc\r\nPVDischargeLife = 12x\r\n"
                                                 "GridChargeLife = -4\r\nx GridDischargeLife = 9\r\n");
    readNight(form);
    EXPECT_EQ(Night(), (QStringList{"", "", "", ""}));
}

TEST_F(Energy, NightSnapshotIsFoundWhateverItsLetterCase) {
    for (const QString& name : {QStringLiteral("BatteryNight.txt"), QStringLiteral("BATTERYNIGHT.TXT")}) {
        SetNight("", "", "", "");
        WriteAll(name, "PVChargeLife = 1000\r\nGridDischargeLife = 9\r\n");
        readNight(form);
        EXPECT_EQ(form.NightPVChargeLife, QStringLiteral("1000")) << qPrintable(name);
        EXPECT_EQ(form.NightGridDischargeLife, QStringLiteral("9")) << qPrintable(name);
        QFile::remove(name);
    }
    // The exact name comes first.
    WriteAll(QStringLiteral("BatteryNight.txt"), "PVChargeLife = 1\r\n");
    WriteAll(QStringLiteral("batterynight.txt"), "PVChargeLife = 2\r\n");
    readNight(form);
    EXPECT_EQ(form.NightPVChargeLife, QStringLiteral("2"));
}

TEST_F(Energy, DaySaveKeepsTheSnapshotAndAppendsAnEighteenLineBlock) {
    DecodeBlockB(ctx, ReadResponse(2, BlockBImage()));
    const QByteArray state = ReadAll(form.BatteryToday);
    WriteAll(kSummary, "06/12/2026 23:59:00\r\n");
    form.LastPollDate = QStringLiteral("06/12/2026");
    form.LastPollTime = QStringLiteral("23:59:30");
    DaySave(form, prompter, fileFailures);

    EXPECT_TRUE(prompter.messages.isEmpty());
    EXPECT_EQ(ReadAll(kNight), state);
    EXPECT_EQ(ReadAll(kSummary), "06/12/2026 23:59:00\r\n06/12/2026 23:59:30\r\n" + state + "\r\n");
    EXPECT_EQ(CrLfLines(kSummary).size(), 1 + 18);

    // The snapshot becomes the baseline: the next cycle starts the day at zero.
    readNight(form);
    DecodeBlockB(ctx, ReadResponse(2, BlockBImage()));
    EXPECT_EQ(Today(), (QStringList{"0", "0", "0", "0"}));
}

TEST_F(Energy, DaySaveWithoutAStateFileTellsTheOperator) {
    WriteAll(kNight, "PVChargeLife = 5\r\n");
    DaySave(form, prompter, fileFailures);
    EXPECT_EQ(prompter.messages, QStringList{QStringLiteral(
                                     "Error saving night file and log File not found\r\nmanually save the "
                                     "current Battery.txt file in as night and in the log")});
    EXPECT_EQ(ReadAll(kNight), "PVChargeLife = 5\r\n");
    EXPECT_FALSE(QFile::exists(kSummary));
    // Also logged, with the file that could not be saved.
    EXPECT_EQ(LogEntries(), 1);
    EXPECT_TRUE(
        ReadAll(QStringLiteral("ModbusClient errors.log"))
            .contains("Procedure: DaySave | Description: Could not write BatteryNight.txt: Battery.txt "
                      "File not found; the night snapshot is left as it was"));
}

// What a power cut or a full disk leaves of the state file never replaces a good snapshot nor
// reaches the summary.
TEST_F(Energy, DaySaveCopiesOnlyAWholeStateFile) {
    DecodeBlockB(ctx, ReadResponse(2, BlockBImage()));
    const QByteArray whole = ReadAll(form.BatteryToday);
    WriteAll(kNight, "PVChargeLife = 5\r\n");
    const QByteArray damaged[] = {QByteArray(373, '\0'), whole.left(whole.size() - 3),
                                  whole + QByteArray(3, '\0'), whole + "BatterySize = 1\r\n"};
    for (const QByteArray& state : damaged) {
        WriteAll(form.BatteryToday, state);
        DaySave(form, prompter, fileFailures);
        EXPECT_EQ(ReadAll(kNight), "PVChargeLife = 5\r\n");
        EXPECT_FALSE(QFile::exists(kSummary));
    }
    EXPECT_EQ(prompter.messages.size(), 4);
    EXPECT_EQ(LogEntries(), 1); // once per run of failures
    EXPECT_TRUE(
        ReadAll(QStringLiteral("ModbusClient errors.log")).contains("Battery.txt is not a whole state file"));
    WriteAll(form.BatteryToday, whole);
    DaySave(form, prompter, fileFailures);
    EXPECT_EQ(ReadAll(kNight), whole);
}

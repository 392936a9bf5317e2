#include "app/shell.h"
#include "common/fake_server.h"
#include "common/test_support.h"
#include "support/clock.h"
#include "support/prompter.h"

#include <QFile>

namespace {

class PollCycleTest : public InTempDir {
protected:
    void SetUp() override {
        InTempDir::SetUp();
        ASSERT_TRUE(server.listen());
        // Block A: a battery at 57 %; block B: the four lifetime counters in their low words.
        server.registers[60095] = 57;
        server.registers[60169] = 1500; // PV charge, lifetime
        server.registers[60175] = 700;  // PV discharge
        server.registers[60181] = 300;  // grid discharge
        server.registers[60187] = 90;   // grid charge
    }

    void Start(Shell& shell) {
        shell.Form_Load(QStringLiteral("127.0.0.1"));
        shell.form().Port = QString::number(server.port());
        shell.connectcmd_Click();
    }

    static QString Line(const QStringList& lines, const QString& key) {
        for (const QString& line : lines) {
            if (line.startsWith(key + QStringLiteral(" = "))) {
                return line.mid(key.size() + 3);
            }
        }
        return QStringLiteral("<missing>");
    }

    SettableClock clock{QDateTime(QDate(2026, 12, 7), QTime(21, 4, 5))};
    RecordingPrompter prompter;
    FakeServer server;
};

} // namespace

TEST_F(PollCycleTest, OneCycleOnConnectWritesEveryFileFromTheServersRegisters) {
    WriteAll(QStringLiteral("ModbusClient.ini"),
             "127.0.0.1\r\nBattery.txt\r\nregs.txt\r\nBatterySoC.log\r\n");
    WriteAll(QStringLiteral("BatteryNight.txt"), "PVChargeLife = 1000\r\nGridChargeLife = 100\r\n");
    Shell shell(clock, prompter);
    Start(shell);

    ASSERT_TRUE(WaitUntil([&] { return QFile::exists(QStringLiteral("regs.txt")); }));
    ASSERT_GE(server.requests.size(), 2);
    EXPECT_EQ(server.requests.at(0), Hex("00 00 00 00 00 06 01 03 EA 60 00 60"));
    EXPECT_EQ(server.requests.at(1).mid(7), Hex("03 EB 06 00 18"));

    const QStringList battery = CrLfLines(QStringLiteral("Battery.txt"));
    ASSERT_EQ(battery.size(), 16);
    EXPECT_EQ(ReadAll(QStringLiteral("Battery.txt")), ReadAll(QStringLiteral("Battery.txt.tmp")));
    EXPECT_EQ(Line(battery, QStringLiteral("PVChargeLife")), QStringLiteral("1500"));
    EXPECT_EQ(Line(battery, QStringLiteral("PVDischargeLife")), QStringLiteral("700"));
    EXPECT_EQ(Line(battery, QStringLiteral("GridDischargeLife")), QStringLiteral("300"));
    EXPECT_EQ(Line(battery, QStringLiteral("GridChargeLife")), QStringLiteral("90"));
    // Today is lifetime less the snapshot; a counter below its snapshot goes negative.
    EXPECT_EQ(Line(battery, QStringLiteral("PVChargeToday")), QStringLiteral("500"));
    EXPECT_EQ(Line(battery, QStringLiteral("GridChargeToday")), QStringLiteral("-10"));
    EXPECT_EQ(Line(battery, QStringLiteral("PVDischargeToday")), QStringLiteral("700"));
    EXPECT_EQ(Line(battery, QStringLiteral("BatteryPercent")), QStringLiteral("57"));
    EXPECT_EQ(battery.last(), QStringLiteral("Date = 07/12/2026 21:04:05"));

    const QStringList soc = CrLfLines(QStringLiteral("BatterySoC.log"));
    ASSERT_EQ(soc.size(), 1);
    EXPECT_TRUE(soc.first().endsWith(QStringLiteral(" 57"))) << soc.first().toStdString();

    QStringList regs = CrLfLines(QStringLiteral("regs.txt"));
    ASSERT_EQ(regs.size(), 121);
    EXPECT_EQ(regs.first(), QStringLiteral("60000 0"));
    EXPECT_EQ(regs.at(95), QStringLiteral("60095 57"));
    EXPECT_EQ(regs.at(96), QStringLiteral("60166 0"));
    EXPECT_EQ(regs.at(99), QStringLiteral("60169 1500"));
    EXPECT_EQ(regs.at(119), QStringLiteral("60189 0"));
    EXPECT_EQ(regs.last(), QString());

    // The pane starts afresh with each cycle.
    const QStringList pane = shell.form().txtStatus.split(QStringLiteral("\r\n"));
    EXPECT_TRUE(pane.at(0).startsWith(QStringLiteral("Polled 95 registers at "))) << pane.at(0).toStdString();
    EXPECT_TRUE(pane.at(1).startsWith(QStringLiteral("Polled 24 registers at "))) << pane.at(1).toStdString();
    EXPECT_FALSE(shell.link().awaitingResponse());

    // A second cycle with an unchanged charge adds no state-of-charge line and rewrites the
    // registers file whole.
    clock.advance(60000);
    const int before = static_cast<int>(server.requests.size());
    shell.Timer2_Timer();
    ASSERT_TRUE(
        WaitUntil([&] { return server.requests.size() >= before + 2 && !shell.link().awaitingResponse(); }));
    ASSERT_TRUE(
        WaitUntil([&] { return CrLfLines(QStringLiteral("Battery.txt")).last().endsWith("21:05:05"); }));
    EXPECT_EQ(CrLfLines(QStringLiteral("BatterySoC.log")).size(), 1);
    EXPECT_EQ(CrLfLines(QStringLiteral("regs.txt")).size(), 121);
    EXPECT_FALSE(QFile::exists(QStringLiteral("ModbusClient errors.log")));
}

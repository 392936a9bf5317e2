#include "app/shell.h"
#include "common/fake_server.h"
#include "common/test_support.h"
#include "support/clock.h"
#include "support/prompter.h"

#include <QTimer>

namespace {
class ShellTest : public InTempDir {
protected:
    SettableClock clock{QDateTime(QDate(2026, 3, 14), QTime(12, 0, 0))};
    RecordingPrompter prompter;
};
} // namespace

TEST_F(ShellTest, StartUpWithoutSettingsKeepsDesignValuesAndTheTallWindow) {
    Shell shell(clock, prompter);
    shell.Form_Load(QString());
    const Form& f = shell.form();
    EXPECT_EQ(f.Height, kExpandedHeight);
    EXPECT_EQ(f.Width, kWindowWidth);
    EXPECT_EQ(f.IP, QStringLiteral("192.168.1.50"));
    EXPECT_EQ(f.BatteryToday, QStringLiteral("Battery.txt"));
    EXPECT_EQ(f.BatterySoC, QStringLiteral("BatterySoC.log"));
    EXPECT_EQ(f.Versionlbl, QStringLiteral("V%1").arg(QString::fromLatin1(MODBUSCLIENT_VERSION_TEXT)));
    EXPECT_EQ(f.Image1, 101);
    EXPECT_FALSE(f.isConnected);
    EXPECT_EQ(f.SelTypeIndex, 1);
    EXPECT_EQ(f.DeviceMode, QStringLiteral("Manual-T"));
    EXPECT_EQ(f.ManualDeviceType, QStringLiteral("Talvex"));
    EXPECT_TRUE(shell.timer2().isActive());
    EXPECT_FALSE(shell.timer1().isActive());
    EXPECT_TRUE(prompter.messages.isEmpty());
}

TEST_F(ShellTest, SettingsFileLinesFillTheirFields) {
    struct Case {
        QByteArray file;
        QString commandLine;
        QString ip, today, registers, soc;
    };
    const QString designIp = QStringLiteral("192.168.1.50");
    const Case cases[] = {
        // Four lines, CR LF, taken whole without trimming.
        {"10.1.1.9\r\n day.txt\r\nregs.txt\r\nsoc.log\r\nignored\r\n", QString(), "10.1.1.9", " day.txt",
         "regs.txt", "soc.log"},
        // One line only.
        {"10.1.1.9\n", QString(), "10.1.1.9", "Battery.txt", "", "BatterySoC.log"},
        // Empty first and second lines keep the design values; an empty fourth empties the field.
        {"\n\nregs.txt\n\n", QString(), designIp, "Battery.txt", "regs.txt", ""},
        // The command line wins over line 1.
        {"10.1.1.9\n", QStringLiteral("172.16.0.2 extra"), "172.16.0.2 extra", "Battery.txt", "",
         "BatterySoC.log"},
        // An empty file.
        {"", QString(), designIp, "Battery.txt", "", "BatterySoC.log"},
    };
    for (const Case& c : cases) {
        WriteAll(QStringLiteral("ModbusClient.ini"), c.file);
        Shell shell(clock, prompter);
        shell.Form_Load(c.commandLine);
        const Form& f = shell.form();
        SCOPED_TRACE(c.file.toStdString());
        EXPECT_EQ(f.Height, kCompactHeight);
        EXPECT_EQ(f.IP, c.ip);
        EXPECT_EQ(f.BatteryToday, c.today);
        EXPECT_EQ(f.RegisterDetails, c.registers);
        EXPECT_EQ(f.BatterySoC, c.soc);
    }
    // A folder of that name is no settings file.
    QFile::remove(QStringLiteral("ModbusClient.ini"));
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("ModbusClient.ini")));
    Shell shell(clock, prompter);
    shell.Form_Load(QString());
    EXPECT_EQ(shell.form().Height, kExpandedHeight);
}

TEST_F(ShellTest, PollBoxRefusesABadRateAndKeepsTheTimerAsItWas) {
    Shell shell(clock, prompter);
    shell.Form_Load(QString());
    Form& f = shell.form();

    f.Pollrate = QStringLiteral("abc");
    shell.Check1_Click(true);
    EXPECT_FALSE(shell.timer1().isActive());
    EXPECT_FALSE(f.Check1);
    ASSERT_EQ(prompter.messages.size(), 1);
    EXPECT_EQ(prompter.messages[0], QString::fromLatin1(kPollRateMessage));

    f.Pollrate = QStringLiteral("2.5");
    shell.Check1_Click(true);
    EXPECT_TRUE(shell.timer1().isActive());
    EXPECT_EQ(shell.timer1().interval(), 2500);
    EXPECT_TRUE(f.Check1);

    // Running at 2.5 s, a refused rate leaves it running at 2.5 s.
    for (const char* bad : {"0", "0.0004", "65.536", "-1", ""}) {
        f.Pollrate = QString::fromLatin1(bad);
        shell.Check1_Click(true);
        EXPECT_TRUE(shell.timer1().isActive()) << bad;
        EXPECT_EQ(shell.timer1().interval(), 2500) << bad;
        EXPECT_TRUE(f.Check1) << bad;
    }
    EXPECT_EQ(prompter.messages.size(), 6);

    f.Pollrate = QStringLiteral("65.535");
    shell.Check1_Click(true);
    EXPECT_EQ(shell.timer1().interval(), 65535);
    f.Pollrate = QStringLiteral("0.001");
    shell.Check1_Click(true);
    EXPECT_EQ(shell.timer1().interval(), 1);

    shell.Check1_Click(false);
    EXPECT_FALSE(shell.timer1().isActive());
    EXPECT_FALSE(f.Check1);
}

TEST_F(ShellTest, OperatorCommandsWithoutAConnection) {
    Shell shell(clock, prompter);
    shell.Form_Load(QString());
    Form& f = shell.form();

    shell.StopStart_Click();
    EXPECT_EQ(f.StopStart, QStringLiteral("Start"));
    shell.StopStart_Click();
    EXPECT_EQ(f.StopStart, QStringLiteral("Stop"));

    shell.SelType_Click(0);
    EXPECT_EQ(f.SelTypeIndex, 0);
    EXPECT_EQ(f.DeviceMode, QStringLiteral("Auto"));
    shell.SelType_Click(7); // no such entry: nothing changes
    EXPECT_EQ(f.SelTypeIndex, 0);

    // "Get" and the minute poll send nothing while disconnected and do not lock the link.
    shell.Command1_Click();
    shell.Timer2_Timer();
    EXPECT_FALSE(shell.link().awaitingResponse());
    EXPECT_EQ(prompter.messages,
              QStringList({QStringLiteral("not connected"), QString::fromLatin1(kCheckServerMessage)}));
    EXPECT_EQ(f.Height, kCompactHeight);
    EXPECT_EQ(f.Update, QStringLiteral("12:00:00"));

    shell.Form_DblClick();
    EXPECT_EQ(f.Height, kExpandedHeight);
    shell.Form_DblClick();
    EXPECT_EQ(f.Height, kCompactHeight);
}

namespace {
class ConnectedShellTest : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        ASSERT_TRUE(server.listen());
        shell.Form_Load(QString());
        // Paused, so the connect event's poll sends nothing and only the operator's requests go out.
        shell.form().StopStart = QStringLiteral("Start");
        shell.form().IP = QStringLiteral("127.0.0.1");
        shell.form().Port = QString::number(server.port());
        shell.connectcmd_Click();
        ASSERT_TRUE(WaitUntil([this] { return shell.form().isConnected; }));
    }

    FakeServer server;
    Shell shell{clock, prompter};
};
} // namespace

TEST_F(ConnectedShellTest, AutoAsksForTheSunSpecSignatureAfterItsStatusLine) {
    const QString line = QStringLiteral("Detection: Checking SunSpec signature at 40000...");
    bool sentBeforeLine = true;
    shell.status().echo = [&](const QString& message) {
        if (message == line) {
            sentBeforeLine = shell.link().awaitingResponse();
        }
    };
    shell.SelType_Click(2);
    shell.SelType_Click(0);
    EXPECT_EQ(shell.form().DeviceMode, QStringLiteral("Auto"));
    EXPECT_EQ(shell.form().ManualDeviceType, QStringLiteral("SunSpec"));
    EXPECT_TRUE(shell.form().txtStatus.contains(line + QStringLiteral("\r\n")));
    EXPECT_FALSE(sentBeforeLine);
    ASSERT_TRUE(WaitUntil([&] { return server.requests.size() == 1; }));
    EXPECT_EQ(server.requests[0], Hex("00 00 00 00 00 06 01 03 9C 40 00 02"));
}

TEST_F(ShellTest, AutoWhileDisconnectedSendsAndShowsNothing) {
    Shell shell(clock, prompter);
    shell.Form_Load(QString());
    shell.SelType_Click(0);
    EXPECT_EQ(shell.form().DeviceMode, QStringLiteral("Auto"));
    EXPECT_TRUE(shell.form().txtStatus.isEmpty());
    EXPECT_FALSE(shell.link().awaitingResponse());
    EXPECT_TRUE(prompter.messages.isEmpty());
}

TEST_F(ConnectedShellTest, GetRefusesWhatARequestCannotCarry) {
    const QString numbers = QStringLiteral("Reg and No must be numbers");
    const QString reg = QString::fromLatin1(kStartRangeMessage);
    const QString count = QString::fromLatin1(kNumberRangeMessage);
    const struct {
        const char* start;
        const char* number;
        QString message;
    } cases[] = {{"-1", "1", reg},    {"65536", "1", reg}, {"1e20", "1", reg},    {"0", "0", count},
                 {"0", "126", count}, {"0", "-3", count},  {"abc", "1", numbers}, {"0", "", numbers}};
    for (const auto& c : cases) {
        prompter.messages.clear();
        shell.form().Start = QString::fromLatin1(c.start);
        shell.form().Number = QString::fromLatin1(c.number);
        shell.Command1_Click();
        EXPECT_EQ(prompter.messages, QStringList({c.message})) << c.start << " " << c.number;
        EXPECT_FALSE(shell.link().awaitingResponse());
    }
    // The limits themselves go out; the server has seen nothing before them.
    shell.form().Start = QStringLiteral("65535");
    shell.form().Number = QStringLiteral("125");
    shell.Command1_Click();
    ASSERT_TRUE(WaitUntil([&] { return server.requests.size() == 1; }));
    EXPECT_EQ(server.requests[0].right(4), Hex("FF FF 00 7D"));
}

#include "app/shell.h"
#include "common/fake_server.h"
#include "common/test_support.h"
#include "energy/night.h"
#include "support/clock.h"
#include "support/prompter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <sys/mount.h>

// The program against servers and disks that misbehave: what an unattended logger must ride out.
namespace {

const QString kLog = QStringLiteral("ModbusClient errors.log");

class FaultTest : public InTempDir {
protected:
    void SetUp() override {
        InTempDir::SetUp();
        ASSERT_TRUE(server.listen());
        server.registers[60095] = 52;
        // Words a glued frame would take for the charge.
        for (int r = 60040; r < 60050; ++r) {
            server.registers[r] = 315;
        }
        server.registers[60169] = 1500;
    }

    void Start(int timeoutMs, const QString& pollrate) {
        shell.link().setResponseTimeoutMs(timeoutMs);
        shell.Form_Load(QStringLiteral("127.0.0.1"));
        shell.form().Port = QString::number(server.port());
        if (!pollrate.isEmpty()) {
            shell.form().Pollrate = pollrate;
            shell.Check1_Click(true);
        }
        shell.connectcmd_Click();
    }

    int cycles() { return shell.form().txtStatus.count(QStringLiteral("Polled 24 registers")); }
    static QStringList entries() { return CrLfLines(kLog).filter(QStringLiteral("Time: ")); }

    SettableClock clock{QDateTime(QDate(2026, 12, 7), QTime(21, 4, 5))};
    RecordingPrompter prompter;
    FakeServer server;
    Shell shell{clock, prompter};
};

} // namespace

TEST_F(FaultTest, AHalfFrameIsNeverGluedToTheNextAnswer) {
    server.halfAnswers = 1;
    Start(600, QStringLiteral("0.1"));
    // The polls meanwhile wait for the half-sent answer; its time-out reconnects, and the
    // cycles after it read the server's true charge.
    ASSERT_TRUE(WaitUntil([&] { return QFile::exists(QStringLiteral("Battery.txt")); }, 8000));
    const QStringList soc = CrLfLines(QStringLiteral("BatterySoC.log"));
    ASSERT_EQ(soc.size(), 1);
    EXPECT_TRUE(soc.first().endsWith(QStringLiteral(" 52"))) << soc.first().toStdString();
    EXPECT_TRUE(CrLfLines(QStringLiteral("Battery.txt")).contains(QStringLiteral("BatteryPercent = 52")));
    ASSERT_EQ(entries().size(), 1) << entries().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(entries().first().contains(QStringLiteral("Error: Timeout")));
}

TEST_F(FaultTest, AServerThatHangsUpIsReconnectedWithGrowingPausesAndPolledAgain) {
    server.hangUps = 2;
    Start(5000, QStringLiteral("0.2"));
    QElapsedTimer sinceFirst;
    ASSERT_TRUE(WaitUntil([&] { return server.connections == 1; }));
    sinceFirst.start();
    ASSERT_TRUE(WaitUntil([&] { return server.connections == 2; }, 4000));
    const qint64 firstPause = sinceFirst.elapsed();
    ASSERT_TRUE(WaitUntil([&] { return server.connections == 3; }, 6000));
    const qint64 secondPause = sinceFirst.elapsed() - firstPause;
    EXPECT_GE(firstPause, 900);
    EXPECT_GE(secondPause, 1900);
    ASSERT_TRUE(WaitUntil([&] { return cycles() >= 1; }, 3000));
    EXPECT_EQ(shell.form().txtStatus.count(QStringLiteral("Disconnected.")), 0) << "the pane starts afresh";
    // The operator's rate came back by itself, and the pacing shrank with the first answer.
    EXPECT_TRUE(shell.timer1().isActive());
    EXPECT_EQ(shell.link().reconnectDelayMs(), 1000);
    // A close is no error, and nothing waited for a time-out.
    EXPECT_FALSE(QFile::exists(kLog));

    // A clean close with nothing outstanding (an inverter restart) comes back too.
    ASSERT_TRUE(WaitUntil([&] { return !shell.form().awaitingResponse; }));
    const int before = server.connections;
    server.client()->disconnectFromHost();
    ASSERT_TRUE(WaitUntil([&] { return shell.form().txtStatus.contains(QStringLiteral("Disconnected.")); }));
    EXPECT_FALSE(shell.form().isConnected);
    ASSERT_TRUE(WaitUntil([&] { return server.connections == before + 1 && cycles() >= 1; }, 4000));
    EXPECT_TRUE(shell.form().isConnected);
    EXPECT_FALSE(QFile::exists(kLog));
}

TEST_F(FaultTest, AStateFileThatCannotBeWrittenKeepsItsLastGoodContentAndIsReportedOnce) {
    Start(5000, QString());
    ASSERT_TRUE(WaitUntil([&] { return cycles() == 1; }));
    const QByteArray good = ReadAll(QStringLiteral("Battery.txt"));
    ASSERT_FALSE(good.isEmpty());

    // A folder where the temporary file goes: three cycles fail, one report.
    QFile::remove(QStringLiteral("Battery.txt.tmp"));
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("Battery.txt.tmp")));
    for (int i = 0; i < 3; ++i) {
        clock.advance(60000);
        shell.Timer2_Timer();
        ASSERT_TRUE(WaitUntil([&] { return cycles() == 1 && !shell.form().awaitingResponse; }));
    }
    EXPECT_EQ(ReadAll(QStringLiteral("Battery.txt")), good);
    ASSERT_EQ(entries().size(), 1);
    EXPECT_TRUE(entries().first().contains(
        QStringLiteral("Procedure: writebattery | Description: Could not write "
                       "Battery.txt: Path/File access error; its last good content is kept")))
        << entries().first().toStdString();

    // Once it can be written again, a later failure is reported afresh.
    ASSERT_TRUE(QDir().rmdir(QStringLiteral("Battery.txt.tmp")));
    clock.advance(60000);
    shell.Timer2_Timer();
    ASSERT_TRUE(WaitUntil([&] { return ReadAll(QStringLiteral("Battery.txt")) != good; }));
    EXPECT_EQ(entries().size(), 1);
}

TEST_F(FaultTest, AFullDiskNeverEmptiesTheStateFile) {
    // A real full file system: a small tmpfs, where the test may mount one.
    const QString mountPoint = QDir::current().filePath(QStringLiteral("small"));
    ASSERT_TRUE(QDir().mkdir(mountPoint));
    if (::mount("tmpfs", mountPoint.toLocal8Bit().constData(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs here";
    }
    struct Unmount {
        QString path;
        ~Unmount() {
            QDir::setCurrent(QDir::tempPath());
            ::umount2(path.toLocal8Bit().constData(), MNT_DETACH);
        }
    } unmount{mountPoint};
    ASSERT_TRUE(QDir::setCurrent(mountPoint));
    WriteAll(kLog, "\r\n"); // its page keeps room for the entries to come
    Start(5000, QString());
    ASSERT_TRUE(WaitUntil([&] { return cycles() == 1; }));
    const QByteArray good = ReadAll(QStringLiteral("Battery.txt"));
    ASSERT_EQ(good.count("\r\n"), 16);

    {
        QFile fill(QStringLiteral("fill"));
        ASSERT_TRUE(fill.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray chunk(100, 'x');
        while (fill.write(chunk) == chunk.size()) {
        }
    }
    for (int i = 0; i < 3; ++i) {
        clock.advance(60000);
        shell.Timer2_Timer();
        ASSERT_TRUE(WaitUntil([&] { return !shell.form().awaitingResponse && cycles() == 1; }));
        EXPECT_EQ(ReadAll(QStringLiteral("Battery.txt")), good) << "cycle " << i;
    }
    ASSERT_EQ(entries().size(), 1);
    EXPECT_TRUE(entries().first().contains(QStringLiteral("Could not write Battery.txt: Disk full")));
}

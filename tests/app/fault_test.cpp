#include "app/shell.h"
#include "common/fake_server.h"
#include "common/test_support.h"
#include "energy/night.h"
#include "support/clock.h"
#include "support/prompter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

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

    // The state file as a reader finds it at any moment: all 16 lines or nothing new.
    static bool StateFileWhole(const QByteArray& good) {
        const QByteArray now = ReadAll(QStringLiteral("Battery.txt"));
        return now == good ||
               (now.count("\r\n") == 16 && now.endsWith("\r\n") && now.contains("\r\nDate = "));
    }

    // Polls every 200 ms, meets requests with the faults once a cycle has gone well, and waits
    // for whole cycles to come back by themselves within the poll period, the reconnect pause
    // (pauseMs) and the response time-out. Checks what must hold through any fault; returns the
    // error log's entries.
    QStringList RideOut(const QList<FakeServer::Fault>& faults, int pauseMs, int timeoutMs = 600) {
        constexpr int kPeriodMs = 200;
        Start(timeoutMs, QStringLiteral("0.2"));
        EXPECT_TRUE(WaitUntil([&] { return server.answered >= 2 && cycles() == 1; }));
        const QByteArray good = ReadAll(QStringLiteral("Battery.txt"));
        EXPECT_EQ(good.count("\r\n"), 16);
        bool whole = true;
        server.registers[60095] = 53; // the cycles after the fault write a new charge
        server.script = faults;
        const int answeredBefore = server.answered;
        EXPECT_TRUE(WaitUntil([&] { return server.script.isEmpty() && !server.dripping(); }, 8000));
        QElapsedTimer sinceFault;
        sinceFault.start();
        const bool back = WaitUntil(
            [&] {
                whole = whole && StateFileWhole(good);
                return server.answered >= answeredBefore + 2 &&
                       ReadAll(QStringLiteral("Battery.txt")).contains("BatteryPercent = 53");
            },
            8000);
        EXPECT_TRUE(back);
        EXPECT_LE(sinceFault.elapsed(), timeoutMs + pauseMs + kPeriodMs + 700);
        EXPECT_TRUE(whole) << "Battery.txt was seen partial";
        EXPECT_TRUE(StateFileWhole(good));
        // Still responsive: the event loop serves a queued call at once.
        bool served = false;
        QTimer::singleShot(0, &shell, [&] { served = true; });
        EXPECT_TRUE(WaitUntil([&] { return served; }, 100));
        shell.Check1_Click(false);
        EXPECT_TRUE(WaitUntil([&] { return !shell.link().awaitingResponse(); }));
        EXPECT_TRUE(shell.form().isConnected);
        return entries();
    }

    static void ExpectEntries(const QStringList& found, const QStringList& expected) {
        ASSERT_EQ(found.size(), expected.size()) << found.join(QLatin1Char('\n')).toStdString();
        for (int i = 0; i < expected.size(); ++i) {
            EXPECT_TRUE(found.at(i).contains(expected.at(i))) << found.at(i).toStdString();
        }
    }

    SettableClock clock{QDateTime(QDate(2026, 12, 7), QTime(21, 4, 5))};
    RecordingPrompter prompter;
    FakeServer server;
    Shell shell{clock, prompter};
};

} // namespace

TEST_F(FaultTest, AHalfFrameIsNeverGluedToTheNextAnswer) {
    server.script = {FakeServer::Fault::Half};
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
    server.script = {FakeServer::Fault::HangUp, FakeServer::Fault::HangUp};
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
    ASSERT_TRUE(WaitUntil([&] { return !shell.link().awaitingResponse(); }));
    const int before = server.connections;
    // The reconnect goes where the link was, and says so, whatever the fields say meanwhile.
    shell.form().Port = QStringLiteral("1");
    server.client()->disconnectFromHost();
    ASSERT_TRUE(WaitUntil([&] { return shell.form().txtStatus.contains(QStringLiteral("Disconnected.")); }));
    EXPECT_FALSE(shell.form().isConnected);
    ASSERT_TRUE(WaitUntil([&] { return server.connections == before + 1 && cycles() >= 1; }, 4000));
    EXPECT_TRUE(shell.form().isConnected);
    EXPECT_TRUE(shell.form().txtStatus.contains(
        QStringLiteral("Connected to server at 127.0.0.1:%1\r\n").arg(server.port())));
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
        ASSERT_TRUE(WaitUntil([&] { return cycles() == 1 && !shell.link().awaitingResponse(); }));
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
        ASSERT_TRUE(WaitUntil([&] { return !shell.link().awaitingResponse() && cycles() == 1; }));
        EXPECT_EQ(ReadAll(QStringLiteral("Battery.txt")), good) << "cycle " << i;
    }
    // Each file once: the state file, then the counters kept for the publisher and the history.
    ASSERT_EQ(entries().size(), 2);
    EXPECT_TRUE(entries().first().contains(QStringLiteral("Could not write Battery.txt: Disk full")));
    EXPECT_TRUE(entries().last().contains(QStringLiteral("Could not write ModbusClient counters.json")));
}

TEST_F(FaultTest, AnAnswerDrippingInByteByByteIsOneResponse) {
    // The test's event loop wakes every 10 ms, so the drip takes about 2 s.
    ExpectEntries(RideOut({FakeServer::Fault::Bytewise}, 0, 5000), {});
}

TEST_F(FaultTest, TwoAnswersInOneSegmentAreBothDecoded) {
    ExpectEntries(RideOut({FakeServer::Fault::Glued}, 0), {});
    EXPECT_EQ(CrLfLines(QStringLiteral("BatterySoC.log")).size(), 2);
}

TEST_F(FaultTest, BytesThatAreNoModbusAreDiscardedAndTheWaitTimesOut) {
    ExpectEntries(RideOut({FakeServer::Fault::Garbage}, 1000),
                  {QStringLiteral("Response stream out of step; 28 received bytes discarded"),
                   QStringLiteral("Error: Timeout")});
}

TEST_F(FaultTest, AnExceptionAnswerIsReportedInThePaneAndEndsTheWait) {
    ExpectEntries(RideOut({FakeServer::Fault::Exception}, 0), {});
    EXPECT_GE(server.connections, 1);
    EXPECT_EQ(server.connections, 1) << "an exception is no reason to reconnect";
}

TEST_F(FaultTest, AServerClosingInTheMiddleOfAFrameIsReconnected) {
    ExpectEntries(RideOut({FakeServer::Fault::CloseMidFrame}, 1000), {});
    EXPECT_EQ(server.connections, 2);
}

TEST_F(FaultTest, ASilentServerTimesOutAndIsReconnected) {
    ExpectEntries(RideOut({FakeServer::Fault::Silent}, 1000), {QStringLiteral("Error: Timeout")});
    EXPECT_EQ(server.connections, 2);
}

TEST_F(FaultTest, AResetConnectionIsASocketErrorAndIsReconnected) {
    ExpectEntries(RideOut({FakeServer::Fault::Reset}, 1000),
                  {QStringLiteral("Error: 10054 | Line: 0 | Procedure: Winsock1_Error")});
    EXPECT_EQ(server.connections, 2);
}

TEST_F(FaultTest, RefusedConnectionsAreRetriedUntilTheServerListensAgain) {
    Start(600, QStringLiteral("0.2"));
    ASSERT_TRUE(WaitUntil([&] { return server.answered >= 2 && cycles() == 1; }));
    const quint16 port = server.port();
    server.close();
    ASSERT_TRUE(WaitUntil([&] { return !entries().isEmpty(); }, 3000));
    ASSERT_TRUE(server.listen(port));
    QElapsedTimer sinceBack;
    sinceBack.start();
    const int answeredBefore = server.answered;
    ASSERT_TRUE(WaitUntil([&] { return server.answered >= answeredBefore + 2; }, 4000));
    EXPECT_LE(sinceBack.elapsed(), 2000 + 200 + 500) << "the second pause is 2 s";
    ExpectEntries(entries(), {QStringLiteral("Error: 10061")});
    EXPECT_TRUE(shell.form().isConnected);
    EXPECT_TRUE(shell.timer1().isActive());
    EXPECT_EQ(CrLfLines(QStringLiteral("Battery.txt")).size(), 16);
}

TEST_F(FaultTest, BentFramingIsPolledThroughAndADoubledAnswerListedOnce) {
    using F = FakeServer::Fault;
    ExpectEntries(RideOut({F::Trailing, F::Trailing, F::ShortLength, F::ShortLength, F::ProtocolOne,
                           F::ProtocolOne, F::Doubled, F::Doubled},
                          0),
                  {});
    server.script = {F::Doubled, F::Doubled};
    shell.Timer2_Timer();
    ASSERT_TRUE(WaitUntil([&] { return server.script.isEmpty() && !shell.link().awaitingResponse(); }));
    EXPECT_EQ(shell.form().RegisterDetailsText.count(QStringLiteral("\r\n60166 ")), 1);
}

TEST_F(FaultTest, AnOperatorsReadIsDecodedAsWhatWasAsked) {
    Start(5000, QString());
    ASSERT_TRUE(WaitUntil([&] { return cycles() == 1 && !shell.link().awaitingResponse(); }));
    const QByteArray good = ReadAll(QStringLiteral("Battery.txt"));
    const qsizetype sent = server.requests.size();
    shell.form().Start = QStringLiteral("100");
    for (const char* number : {"24", "18"}) {
        shell.form().Number = QString::fromLatin1(number);
        shell.Command1_Click();
        // A chained read would go out within the decode and hold the wait until answered.
        ASSERT_TRUE(WaitUntil([&] { return !shell.link().awaitingResponse(); }));
    }
    EXPECT_EQ(server.requests.size(), sent + 2);
    EXPECT_EQ(cycles(), 2);
    EXPECT_EQ(ReadAll(QStringLiteral("Battery.txt")), good);
    EXPECT_FALSE(shell.controls().form().Loaded);
}

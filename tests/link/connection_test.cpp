#include "common/fake_server.h"
#include "common/test_support.h"
#include "link/connection.h"
#include "link/status_pane.h"
#include "model/form.h"
#include "support/clock.h"
#include "support/error_log.h"
#include "support/event_boundary.h"
#include "support/prompter.h"

#include <QFile>
#include <QTest>

namespace {
const QString kLog = QStringLiteral("ModbusClient errors.log");

class ConnectionTest : public InTempDir {
protected:
    void SetUp() override {
        InTempDir::SetUp();
        DecoderTable decoders;
        decoders.blockA = [this](const QByteArray& d) { decoded.append(d); };
        decoders.other = [this](const QByteArray& d, int32_t) { decoded.append(d); };
        link.setDecoders(decoders);
        link.onConnected = [this] { ++connectEvents; };
        form.IP = QStringLiteral("127.0.0.1");
    }

    bool connectTo(quint16 port) {
        form.Port = QString::number(port);
        link.connectcmd_Click();
        return WaitUntil([this] { return form.isConnected; });
    }
    // Error-log entry lines, without the empty lines between them.
    QStringList entries() const { return CrLfLines(kLog).filter(QStringLiteral("Time: ")); }

    SettableClock clock;
    RecordingPrompter prompter;
    Form form;
    StatusPane status{form};
    ErrorLog log{clock, prompter};
    EventBoundary boundary{log};
    ModbusLink link{form, status, log, prompter, boundary};
    FakeServer server;
    QList<QByteArray> decoded;
    int connectEvents = 0;
};
} // namespace

TEST_F(ConnectionTest, ConnectShowsTheConnectedState) {
    ASSERT_TRUE(server.listen());
    ASSERT_TRUE(connectTo(server.port()));
    EXPECT_EQ(form.txtStatus, QStringLiteral("Connected to server at 127.0.0.1:%1\r\n").arg(server.port()));
    EXPECT_EQ(form.WinState, QStringLiteral("7"));
    EXPECT_EQ(form.Image1, 102);
    EXPECT_EQ(connectEvents, 1);
    EXPECT_EQ(link.socket().socketOption(QAbstractSocket::LowDelayOption).toInt(), 1);

    link.connectcmd_Click();
    EXPECT_EQ(prompter.messages, QStringList({QStringLiteral("already connected")}));

    // A poll is answered and reaches its decoder; the lock is released.
    server.registers[60000] = 0x4142;
    link.SendReadRegisters(QStringLiteral("60000"), QStringLiteral("96"));
    ASSERT_TRUE(WaitUntil([this] { return decoded.size() == 1; }));
    EXPECT_EQ(decoded[0].size(), 201);
    EXPECT_EQ(decoded[0].mid(9, 2), QByteArray("AB"));
    EXPECT_FALSE(link.awaitingResponse());
    EXPECT_FALSE(QFile::exists(kLog));
}

TEST_F(ConnectionTest, EndingTheProgramIsNoDisconnectEvent) {
    ASSERT_TRUE(server.listen());
    Form own;
    own.IP = QStringLiteral("127.0.0.1");
    own.Port = QString::number(server.port());
    StatusPane ownStatus{own};
    int afterEvents = 0;
    boundary.afterEvent = [&] { ++afterEvents; };
    {
        ModbusLink ending{own, ownStatus, log, prompter, boundary};
        ending.connectcmd_Click();
        ASSERT_TRUE(WaitUntil([&] { return own.isConnected; }));
        afterEvents = 0;
    }
    // A window already gone must not be asked to show a "Disconnected." line.
    EXPECT_EQ(afterEvents, 0);
    EXPECT_FALSE(own.txtStatus.contains(QStringLiteral("Disconnected.")));
}

TEST_F(ConnectionTest, OneReadAtATimeButWritesAlwaysGo) {
    ASSERT_TRUE(server.listen());
    ASSERT_TRUE(connectTo(server.port()));
    server.answer = false;
    link.SendReadRegisters(QStringLiteral("60000"), QStringLiteral("96"));
    link.SendReadRegisters(QStringLiteral("60166"), QStringLiteral("24"));
    link.SendWriteRegister(60301, 11);
    link.SendWriteRegister(60301, 11);
    ASSERT_TRUE(WaitUntil([this] { return server.requests.size() >= 3; }));
    EXPECT_EQ(server.requests, QList<QByteArray>({Hex("00 00 00 00 00 06 01 03 EA 60 00 60"),
                                                  Hex("00 01 00 00 00 06 01 06 EB 8D 00 0B"),
                                                  Hex("00 02 00 00 00 06 01 06 EB 8D 00 0B")}));
    EXPECT_TRUE(link.awaitingResponse());
}

TEST_F(ConnectionTest, ResponsesAreReassembledAcrossSegments) {
    ASSERT_TRUE(server.listen());
    ASSERT_TRUE(connectTo(server.port()));
    server.answer = false;
    const QByteArray blockA = ReadResponse(0, QList<int>(96, 7));
    const QByteArray small = ReadResponse(3, {1, 2});

    link.SendReadRegisters(QStringLiteral("60000"), QStringLiteral("96"));
    server.send(blockA.left(100));
    // The first part of a frame does not end the wait: no second read goes out meanwhile.
    ASSERT_TRUE(WaitUntil([this] { return link.pendingBytes() == 100; }));
    EXPECT_TRUE(link.awaitingResponse());
    link.SendReadRegisters(QStringLiteral("60166"), QStringLiteral("24"));
    EXPECT_TRUE(decoded.isEmpty());
    server.send(blockA.mid(100) + small);
    ASSERT_TRUE(WaitUntil([this] { return !link.awaitingResponse(); }));
    // The small answer came with it but answers nothing asked: dropped.
    EXPECT_EQ(server.requests.size(), 1);

    EXPECT_EQ(link.pendingBytes(), 0);
    EXPECT_FALSE(QFile::exists(kLog));
}

TEST_F(ConnectionTest, RefusedConnectionRetriesThePortWithGrowingPauses) {
    quint16 port = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
    }
    form.Port = QString::number(port);
    link.connectcmd_Click();
    ASSERT_TRUE(WaitUntil([this] { return QFile::exists(kLog); }));
    EXPECT_EQ(entries(),
              QStringList({QStringLiteral("Time: 07/12/2026 12:00:00 | Error: 10061 | Line: 0 | "
                                          "Procedure: Winsock1_Error | Description: Connection refused")}));
    EXPECT_TRUE(link.reconnectPending());
    EXPECT_EQ(link.reconnectDelayMs(), 2000); // this attempt waits 1 s, the next one 2 s
    EXPECT_TRUE(form.txtStatus.isEmpty());
    EXPECT_TRUE(prompter.messages.isEmpty());

    ASSERT_TRUE(WaitUntil([this] { return entries().size() == 2; }));
    EXPECT_EQ(link.reconnectDelayMs(), 4000);

    // The paced attempt goes to the same port and, once a server is there, connects.
    ASSERT_TRUE(server.listen(port));
    ASSERT_TRUE(WaitUntil([this] { return form.isConnected; }, 8000));
    EXPECT_EQ(server.connections, 1);
    EXPECT_EQ(entries().size(), 2);
    EXPECT_FALSE(link.reconnectPending());
    EXPECT_EQ(form.txtStatus, QStringLiteral("Connected to server at 127.0.0.1:%1\r\n").arg(port));
    // A bare connect does not shorten the pacing; the server's first answer does.
    EXPECT_EQ(link.reconnectDelayMs(), 4000);
    link.SendReadRegisters(QStringLiteral("60000"), QStringLiteral("2"));
    ASSERT_TRUE(WaitUntil([this] { return !decoded.isEmpty(); }));
    EXPECT_EQ(link.reconnectDelayMs(), 1000);

    // A second "Connect" while an attempt is under way is refused and ends the attempt.
    Form other;
    other.IP = QStringLiteral("127.0.0.1");
    other.Port = QString::number(port);
    StatusPane otherStatus{other};
    ModbusLink second{other, otherStatus, log, prompter, boundary};
    second.connectcmd_Click();
    ASSERT_EQ(second.StateNumber(), 6);
    second.connectcmd_Click();
    EXPECT_EQ(prompter.messages, QStringList({QString::fromLatin1(kCheckServerMessage)}));
    EXPECT_EQ(second.StateNumber(), 0);
}

TEST_F(ConnectionTest, UnansweredReadTimesOutAndReconnects) {
    ASSERT_TRUE(server.listen());
    ASSERT_TRUE(connectTo(server.port()));
    server.answer = false;
    link.setResponseTimeoutMs(200);
    link.SendReadRegisters(QStringLiteral("60000"), QStringLiteral("96"));
    ASSERT_TRUE(WaitUntil([this] { return QFile::exists(kLog); }));
    EXPECT_EQ(CrLfLines(kLog),
              QStringList({QStringLiteral("Time: 07/12/2026 12:00:00 | Error: Timeout | Line: 0 | Procedure: "
                                          "HandleTimeout"),
                           QString()}));
    EXPECT_FALSE(link.awaitingResponse());
    ASSERT_TRUE(WaitUntil([this] { return connectEvents == 2; }));
    EXPECT_EQ(server.connections, 2);

    // A frame cut short holds the wait until its time is up; then it is thrown away with the
    // connection, so the next response reads cleanly.
    link.SendReadRegisters(QStringLiteral("60000"), QStringLiteral("96"));
    ASSERT_TRUE(WaitUntil([this] { return server.requests.size() == 2; }));
    server.send(ReadResponse(0, {1, 2}).left(5));
    ASSERT_TRUE(WaitUntil([this] { return link.pendingBytes() == 5; }));
    EXPECT_TRUE(link.awaitingResponse());
    ASSERT_TRUE(WaitUntil([this] { return connectEvents == 3; }));
    EXPECT_EQ(link.pendingBytes(), 0);
    EXPECT_EQ(entries().size(), 2);
    const QByteArray small = ReadResponse(0, {9}); // the id of its request
    link.SendReadRegisters(QStringLiteral("4"), QStringLiteral("1"));
    server.send(small);
    ASSERT_TRUE(WaitUntil([this] { return !decoded.isEmpty(); }));
    EXPECT_EQ(decoded, QList<QByteArray>({small}));

    // Stray bytes after an answer, with nothing awaited, are dropped once older than the
    // time-out, with one entry, and do not spoil the next answer.
    server.send(small.left(4));
    ASSERT_TRUE(WaitUntil([this] { return entries().size() == 3; }));
    EXPECT_TRUE(entries()[2].endsWith(QStringLiteral("older than the time-out; 4 received bytes discarded")));
    EXPECT_EQ(link.pendingBytes(), 0);
    link.SendReadRegisters(QStringLiteral("4"), QStringLiteral("1"));
    server.send(small);
    ASSERT_TRUE(WaitUntil([this] { return decoded.size() == 2; }));
    EXPECT_EQ(decoded.last(), small);
}

// A queued command waits for the read outstanding, then goes back to back: no poll read between
// its writes and its read-back; a poll read asked for meanwhile goes after it. An exception to a
// write drops the rest of the command and says why.
TEST_F(ConnectionTest, AQueuedCommandGoesWholeBetweenPollReads) {
    ASSERT_TRUE(server.listen());
    ASSERT_TRUE(connectTo(server.port()));
    server.answer = false;
    link.SendReadRegisters(QStringLiteral("60000"), QStringLiteral("96"));
    QList<CommandAnswer> answers;
    const QList<QueuedRequest> command{{false, 60310, 0}, {false, 60314, 2500}, {true, 60310, 5}};
    link.QueueCommand(command, [&](const CommandAnswer& a) { answers.append(a); });
    ASSERT_TRUE(WaitUntil([this] { return server.requests.size() == 1; }));
    server.answer = true;
    server.send(server.Answer(server.requests.first()));
    // A poll read while the command is on its way is held for its end.
    ASSERT_TRUE(WaitUntil([this] { return server.requests.size() >= 2; }));
    link.SendReadRegisters(QStringLiteral("60166"), QStringLiteral("24"));
    ASSERT_TRUE(WaitUntil([&] { return answers.size() == 1 && server.requests.size() == 5; }));
    const auto function = [this](int i) { return server.requests.at(i).mid(7, 3); };
    EXPECT_EQ(function(1), Hex("06 EB 96"));
    EXPECT_EQ(function(2), Hex("06 EB 9A"));
    EXPECT_EQ(function(3), Hex("03 EB 96"));
    EXPECT_EQ(function(4), Hex("03 EB 06"));
    EXPECT_TRUE(answers.first().ok);
    EXPECT_EQ(answers.first().registers, QList<int>({0, 0, 0, 0, 2500}));
    EXPECT_EQ(decoded.size(), 1) << "the read-back is the command's, not a decoder's";

    ASSERT_TRUE(WaitUntil([this] { return !link.awaitingResponse(); }));
    server.script = {FakeServer::Fault::Exception};
    link.QueueCommand(command, [&](const CommandAnswer& a) { answers.append(a); });
    ASSERT_TRUE(WaitUntil([&] { return answers.size() == 2; }));
    EXPECT_FALSE(answers.last().ok);
    EXPECT_EQ(answers.last().failure,
              QStringLiteral("register 60310 answered with exception 2 (Illegal data address)"));
    EXPECT_EQ(server.requests.size(), 6);
}

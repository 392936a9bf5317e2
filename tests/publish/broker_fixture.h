#pragma once

#include "app/publishing.h"
#include "app/shell.h"
#include "common/fake_server.h"
#include "common/test_support.h"
#include "publish/broker_settings.h"
#include "support/clock.h"
#include "support/prompter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTimer>

#include <cstdio>
#include <pwd.h>
#include <unistd.h>

// A real mosquitto broker, a subscriber and a polled installation for the publishing tests.

// A real mosquitto broker on a loopback port of its own. Started as root it would switch to its
// own user, who cannot read the test's private folder: it stays the user that runs the test.
class Broker {
public:
    explicit Broker(const QByteArray& extraConfig = {}) : extra_(extraConfig) {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        port_ = probe.serverPort();
    }
    ~Broker() { stop(); }

    bool start() {
        const QByteArray user = getpwuid(geteuid())->pw_name;
        WriteAll(QStringLiteral("broker.conf"),
                 "listener " + QByteArray::number(port_) + " 127.0.0.1\nuser " + user + "\n" + extra_);
        // Debian puts the broker in /usr/sbin, outside an ordinary user's PATH.
        QString program = QStandardPaths::findExecutable(QStringLiteral("mosquitto"));
        if (program.isEmpty()) {
            program = QStringLiteral("/usr/sbin/mosquitto");
        }
        process_.start(program, {QStringLiteral("-c"), QStringLiteral("broker.conf")});
        return process_.waitForStarted() && WaitUntil([this] {
                   QTcpSocket socket;
                   socket.connectToHost(QHostAddress::LocalHost, port_);
                   return socket.waitForConnected(100);
               });
    }
    void stop() {
        process_.kill(); // as a crash or a power cut would: no goodbye to the clients
        process_.waitForFinished();
    }
    quint16 port() const { return port_; }

private:
    QByteArray extra_;
    quint16 port_ = 0;
    QProcess process_;
};

// mosquitto_sub on every topic the client writes; retained messages arrive on subscribing.
class Subscriber {
public:
    // tls: the options that make mosquitto_sub talk TLS to the broker by name.
    explicit Subscriber(quint16 port, const QStringList& tls = {}) {
        QObject::connect(&process_, &QProcess::readyReadStandardOutput, [this] {
            while (process_.canReadLine()) {
                const QByteArray line = process_.readLine().trimmed();
                const qsizetype blank = line.indexOf(' ');
                received[line.left(blank)].append(line.mid(blank + 1));
            }
        });
        const QStringList host =
            tls.isEmpty() ? QStringList{QStringLiteral("-h"), QStringLiteral("127.0.0.1")} : tls;
        process_.start(QStringLiteral("mosquitto_sub"),
                       host + QStringList{QStringLiteral("-p"), QString::number(port), QStringLiteral("-v"),
                                          QStringLiteral("-t"), QStringLiteral("homeassistant/#"),
                                          QStringLiteral("-t"), QStringLiteral("modbusclient/#")});
    }
    ~Subscriber() {
        process_.kill();
        process_.waitForFinished();
    }
    // The payloads received on a topic, oldest first.
    QList<QByteArray> on(const QByteArray& topic) const { return received.value(topic); }
    QJsonObject last(const QByteArray& topic) const {
        return QJsonDocument::fromJson(on(topic).value(on(topic).size() - 1)).object();
    }
    QHash<QByteArray, QList<QByteArray>> received;

private:
    QProcess process_;
};

// Another client's word on the broker; extra "-r": retained, "-n": empty.
inline int MosquittoPub(quint16 port, const QString& topic, const QString& payload,
                        const QStringList& extra = {}) {
    return QProcess::execute(
        QStringLiteral("mosquitto_pub"),
        QStringList{"-h", "127.0.0.1", "-p", QString::number(port), "-t", topic, "-m", payload} + extra);
}

inline QJsonObject Json(const char* text) {
    return QJsonDocument::fromJson(text).object();
}

class PublishTest : public InTempDir {
protected:
    void SetUp() override {
        InTempDir::SetUp();
        ASSERT_TRUE(server.listen());
        const QByteArray serial = "TX2026SN0042";
        for (qsizetype i = 0; i < serial.size(); i += 2) {
            server.registers[60000 + static_cast<int>(i / 2)] = serial.at(i) * 256 + serial.at(i + 1);
        }
        server.registers[60011] = 'F' * 256 + 'W';
        server.registers[60012] = '1' * 256 + '2';
        server.registers[60030] = 5000;  // rated battery power
        server.registers[60032] = 10240; // capacity
        server.registers[60071] = 65535; // PV: -100
        server.registers[60072] = 65436;
        server.registers[60074] = 300; // grid
        server.registers[60095] = 57;
        server.registers[60169] = 1500; // PV charge, lifetime
        server.registers[60187] = 90;   // grid charge, lifetime
        // Queued: counted once the cycle's last event, the publishing with it, is over.
        QObject::connect(
            &shell, &Shell::pollCycleCompleted, &shell,
            [this] {
                ++cycles;
                cycleMs.append(static_cast<double>(sinceStart.nsecsElapsed()) / 1e6);
            },
            Qt::QueuedConnection);
    }

    // The publisher's last words go to the test's own folder, not to where the tests run from.
    void TearDown() override {
        publisher.reset();
        InTempDir::TearDown();
    }

    static BrokerSettings On(quint16 port) {
        BrokerSettings settings;
        settings.host = QStringLiteral("127.0.0.1");
        settings.port = port;
        return settings;
    }

    void Publish(const BrokerSettings& settings) {
        publisher = StartPublishing(shell, settings, clock);
        publisher->setReconnectDelays(50, 400);
    }

    void Connect() {
        shell.Form_Load(QStringLiteral("127.0.0.1"));
        shell.form().Port = QString::number(server.port());
        shell.connectcmd_Click(); // its connect event polls once
        ASSERT_TRUE(WaitUntil([this] { return cycles == 1; }));
    }

    void PollAndPublish(Broker& broker) {
        ASSERT_TRUE(broker.start());
        Publish(On(broker.port()));
        Connect();
        ASSERT_TRUE(WaitUntil([&] { return publisher->connected(); }));
    }

    // One poll, waited for on its signal so that the wait adds nothing to the time measured.
    bool Cycle() {
        const int before = cycles;
        QEventLoop loop;
        QObject::connect(&shell, &Shell::pollCycleCompleted, &loop, &QEventLoop::quit, Qt::QueuedConnection);
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        sinceStart.start();
        shell.Timer2_Timer();
        loop.exec();
        return cycles == before + 1;
    }

    int BrokerEntries() const {
        return static_cast<int>(ReadAll(QStringLiteral("ModbusClient errors.log")).count("MQTT broker"));
    }

    SettableClock clock{QDateTime(QDate(2026, 12, 7), QTime(21, 4, 5))};
    RecordingPrompter prompter;
    FakeServer server;
    Shell shell{clock, prompter};
    std::unique_ptr<MqttPublisher> publisher;
    int cycles = 0;
    QElapsedTimer sinceStart; // of the cycle under way
    QList<double> cycleMs;    // each cycle's time from its poll to its end
    const QByteArray prefix = "modbusclient/TX2026SN0042";
};

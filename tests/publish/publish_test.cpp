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

#include <algorithm>
#include <ctime>
#include <pwd.h>
#include <unistd.h>

namespace {

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

QJsonObject Json(const char* text) {
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

} // namespace

TEST_F(PublishTest, StateAndDiscoveryReachASubscriberAndComeBackAfterTheBrokerRestarts) {
    Broker broker("allow_anonymous true\n");
    PollAndPublish(broker);

    auto subscriber = std::make_unique<Subscriber>(broker.port());
    ASSERT_TRUE(WaitUntil([&] { return !subscriber->on(prefix + "/state").isEmpty(); }));
    // Every figure, numbers as numbers; 5836.8 kWh is 57 % of 10240.
    QJsonObject state = subscriber->last(prefix + "/state");
    EXPECT_TRUE(state.take("time").toString().startsWith(QStringLiteral("2026-12-07T21:04:05")));
    EXPECT_EQ(state, Json(R"({"soc":57,"battery_power":5000,"pv_power":-100,"grid_power":300,
        "rated_pv_power":0,"level_kwh":5836.8,"capacity_kwh":10240,"pv_charge_today":1500,
        "pv_discharge_today":0,"grid_charge_today":90,"grid_discharge_today":0,"pv_charge_total":1500,
        "pv_discharge_total":0,"grid_charge_total":90,"grid_discharge_total":0,"serial":"TX2026SN0042",
        "firmware":"FW12"})"));
    ASSERT_TRUE(
        WaitUntil([&] { return subscriber->on(prefix + "/availability") == QList<QByteArray>{"online"}; }));

    QJsonObject soc = subscriber->last("homeassistant/sensor/TX2026SN0042/soc/config");
    const QJsonObject device = soc.take("device").toObject();
    EXPECT_EQ(soc, Json(R"({"name":"State of charge","unique_id":"modbusclient_TX2026SN0042_soc",
        "device_class":"battery","state_class":"measurement","unit_of_measurement":"%",
        "value_template":"{{ value_json.soc }}","state_topic":"modbusclient/TX2026SN0042/state",
        "availability_topic":"modbusclient/TX2026SN0042/availability"})"));
    EXPECT_EQ(device.value("sw_version").toString(), QStringLiteral("FW12"));
    const QJsonObject life = subscriber->last("homeassistant/sensor/TX2026SN0042/pv_charge_total/config");
    EXPECT_EQ(life.value("state_class").toString(), QStringLiteral("total_increasing"));
    EXPECT_EQ(life.value("device").toObject(), device) << "one device";

    // One state per cycle while the broker stands.
    ASSERT_TRUE(Cycle());
    ASSERT_TRUE(WaitUntil([&] { return subscriber->on(prefix + "/state").size() == 2; }));

    // The broker dies: the cycles go on, the newest state waits, the outage is logged once.
    broker.stop();
    subscriber.reset();
    ASSERT_TRUE(WaitUntil([&] { return !publisher->connected(); }));
    server.registers[60095] = 58;
    ASSERT_TRUE(Cycle());
    const int attempts = publisher->attempts();
    ASSERT_TRUE(WaitUntil([&] { return publisher->attempts() >= attempts + 3; }));
    server.registers[60095] = 59;
    ASSERT_TRUE(Cycle());
    EXPECT_EQ(BrokerEntries(), 1);

    // Back, empty: discovery, availability and the newest state are said again.
    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(WaitUntil([&] { return publisher->connected(); }));
    subscriber = std::make_unique<Subscriber>(broker.port());
    ASSERT_TRUE(WaitUntil([&] { return subscriber->on(prefix + "/state").size() == 1; }));
    EXPECT_EQ(subscriber->last(prefix + "/state").value("soc").toDouble(), 59);
    EXPECT_EQ(subscriber->on(prefix + "/availability"), QList<QByteArray>{"online"});
    EXPECT_FALSE(subscriber->on("homeassistant/sensor/TX2026SN0042/grid_power/config").isEmpty());
    EXPECT_EQ(BrokerEntries(), 1);

    // The installation goes away: its figures are no longer live.
    server.close();
    ASSERT_TRUE(WaitUntil([&] { return subscriber->on(prefix + "/availability").value(1) == "offline"; }));
}

TEST_F(PublishTest, AWrongPasswordIsLoggedOnceAndPollingGoesOn) {
    WriteAll(QStringLiteral("passwords"), {});
    ASSERT_EQ(QProcess::execute(QStringLiteral("mosquitto_passwd"),
                                {QStringLiteral("-b"), QStringLiteral("passwords"), QStringLiteral("meter"),
                                 QStringLiteral("right")}),
              0);
    Broker broker("allow_anonymous false\npassword_file passwords\n");
    ASSERT_TRUE(broker.start());
    BrokerSettings settings = On(broker.port());
    settings.user = QStringLiteral("meter");
    settings.password = "wrong-secret";
    Publish(settings);
    Connect();
    ASSERT_TRUE(WaitUntil([&] { return publisher->attempts() >= 3; }));
    ASSERT_TRUE(Cycle());
    ASSERT_TRUE(Cycle());
    EXPECT_FALSE(publisher->connected());
    const QByteArray log = ReadAll(QStringLiteral("ModbusClient errors.log"));
    EXPECT_EQ(BrokerEntries(), 1) << log.toStdString();
    EXPECT_TRUE(log.contains("not authorised")) << log.toStdString();
    EXPECT_FALSE(log.contains("wrong-secret"));
    EXPECT_EQ(CrLfLines(QStringLiteral("Battery.txt")).size(), 16);
}

TEST_F(PublishTest, OverTlsTheBrokerIsReachedByItsNameAndItsCertificateIsChecked) {
    // A CA and a certificate for "localhost", made here.
    const auto openssl = [](const char* arguments) {
        return QProcess::execute(QStringLiteral("openssl"), QString::fromLatin1(arguments).split(' ')) == 0;
    };
    ASSERT_TRUE(openssl("req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout ca.key "
                        "-out ca.crt -days 2 -subj /CN=CA"));
    ASSERT_TRUE(openssl("req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout server.key "
                        "-out server.csr -subj /CN=localhost"));
    WriteAll(QStringLiteral("san"), "subjectAltName=DNS:localhost\n");
    ASSERT_TRUE(openssl("x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -out server.crt "
                        "-days 2 -extfile san"));
    Broker broker("allow_anonymous true\ncafile ca.crt\ncertfile server.crt\nkeyfile server.key\n");
    ASSERT_TRUE(broker.start());
    BrokerSettings settings = On(broker.port());
    settings.host = QStringLiteral("localhost");
    settings.caFile = QStringLiteral("ca.crt");
    Publish(settings);
    Connect();
    ASSERT_TRUE(WaitUntil([&] { return publisher->connected(); }));
    Subscriber subscriber(broker.port(), {QStringLiteral("-h"), QStringLiteral("localhost"),
                                          QStringLiteral("--cafile"), QStringLiteral("ca.crt")});
    ASSERT_TRUE(WaitUntil([&] { return !subscriber.on(prefix + "/state").isEmpty(); }));

    // A broker whose certificate the CA did not sign is refused, once in the log.
    publisher.reset();
    WriteAll(QStringLiteral("other.crt"), ReadAll(QStringLiteral("server.crt")));
    settings.caFile = QStringLiteral("other.crt");
    Publish(settings);
    ASSERT_TRUE(Cycle());
    ASSERT_TRUE(WaitUntil([&] { return publisher->attempts() >= 3; }));
    EXPECT_FALSE(publisher->connected());
    EXPECT_EQ(BrokerEntries(), 1);
}

TEST_F(PublishTest, ABrokerThatNeverAnswersDoesNotDelayThePollCycle) {
    Connect();
    // The median: a shared machine's odd slow cycle is not the broker's doing.
    const auto medianCycleMs = [this] {
        cycleMs.clear();
        for (int i = 0; i < 21; ++i) {
            EXPECT_TRUE(Cycle());
        }
        std::sort(cycleMs.begin(), cycleMs.end());
        return cycleMs.value(cycleMs.size() / 2);
    };
    const double without = medianCycleMs();

    // Takes the connection and reads nothing.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    Publish(On(silent.serverPort()));
    publisher->setAnswerTimeoutMs(300);
    ASSERT_TRUE(Cycle());
    ASSERT_TRUE(WaitUntil([&] { return silent.hasPendingConnections(); }));
    const double with = medianCycleMs();
    std::printf("median poll cycle: %.3f ms without a broker, %.3f ms with a silent one\n", without, with);
    // Waiting for the broker would cost its whole answer time-out, 300 ms.
    EXPECT_LT(with, without + 20.0);

    // Given up after the answer time-out, once in the log, and tried again.
    ASSERT_TRUE(WaitUntil([&] { return publisher->attempts() >= 3; }));
    EXPECT_EQ(BrokerEntries(), 1);
    EXPECT_TRUE(ReadAll(QStringLiteral("ModbusClient errors.log")).contains("no answer within 0.3 s"));
}

TEST_F(PublishTest, PublishingCostsLittleClientTimePerCycle) {
    Broker broker("allow_anonymous true\n");
    PollAndPublish(broker);
    constexpr int kRounds = 500;
    double cpuNs = 0;
    for (int i = 0; i < kRounds; ++i) {
        timespec start{};
        timespec end{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
        publisher->cycleCompleted(shell.form());
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
        cpuNs += (end.tv_sec - start.tv_sec) * 1e9 + (end.tv_nsec - start.tv_nsec);
        QCoreApplication::processEvents(); // the library's socket drains between cycles
    }
    const double perCycleUs = cpuNs / kRounds / 1000;
    std::printf("publish path: %.1f us of CPU per cycle\n", perCycleUs);
    RecordProperty("publish_us_per_cycle", QString::number(perCycleUs, 'f', 1).toStdString());
    EXPECT_TRUE(publisher->connected());
    // 12 to 18 us in a debug build, 10 in a release one; room left for a busy shared machine.
    EXPECT_LT(perCycleUs, 50);
}

TEST(BrokerSettingsTest, TheCommandLineWinsOverTheFileAndNoOptionMeansNoBroker) {
    QTemporaryDir dir;
    const QString conf = dir.filePath(QStringLiteral("modbusclient.conf"));
    WriteAll(conf, "[mqtt]\nhost = broker.lan:1884\ntopic = home/battery/\nuser = meter\n");
    BrokerSettings settings;
    QString error;
    ASSERT_TRUE(ResolveBrokerSettings({}, ReadBrokerConf(conf), "pw", &settings, &error));
    EXPECT_EQ(settings.host, QStringLiteral("broker.lan"));
    EXPECT_EQ(settings.port, 1884);
    EXPECT_EQ(settings.topicPrefix, QStringLiteral("home/battery"));
    EXPECT_EQ(settings.user, QStringLiteral("meter"));
    EXPECT_EQ(settings.password, "pw");

    ASSERT_TRUE(ResolveBrokerSettings({QStringLiteral("[::1]"), {}, QStringLiteral("other"), {}},
                                      ReadBrokerConf(conf), {}, &settings, &error));
    EXPECT_EQ(settings.host, QStringLiteral("::1"));
    EXPECT_EQ(settings.port, 1883);
    EXPECT_EQ(settings.user, QStringLiteral("other"));

    EXPECT_FALSE(
        ResolveBrokerSettings({QStringLiteral("host:70000"), {}, {}, {}}, {}, {}, &settings, &error));
    EXPECT_FALSE(ResolveBrokerSettings({{}, QStringLiteral("t"), {}, {}}, {}, {}, &settings, &error));
    ASSERT_TRUE(ResolveBrokerSettings({}, ReadBrokerConf(dir.filePath(QStringLiteral("missing.conf"))), "pw",
                                      &settings, &error));
    EXPECT_FALSE(settings.enabled());
    SettableClock clock;
    RecordingPrompter prompter;
    Shell shell(clock, prompter);
    EXPECT_EQ(StartPublishing(shell, settings, clock), nullptr);
}

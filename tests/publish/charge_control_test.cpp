#include "broker_fixture.h"

#include "app/command_line.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

class ChargeControlTest : public PublishTest {
protected:
    void Start(bool control) {
        ASSERT_TRUE(broker.start());
        BrokerSettings settings = On(broker.port());
        settings.control = control;
        subscriber = std::make_unique<Subscriber>(broker.port());
        // Left on the broker before the client starts: it must never act.
        ASSERT_EQ(MosquittoPub(broker.port(), prefix + "/charge/set", R"({"power_kw": 1})", {"-r"}), 0);
        Publish(settings);
        Connect();
        ASSERT_TRUE(WaitUntil([&] { return publisher->connected(); }));
    }
    void Say(const QString& leaf, const QString& payload, const QStringList& extra = {}) {
        ASSERT_EQ(MosquittoPub(broker.port(), prefix + leaf, payload, extra), 0);
    }
    // In order on one session: once the birth has brought the errors again, all before it is handled.
    bool Settled() {
        const qsizetype before = subscriber->on(prefix + "/errors").size();
        return MosquittoPub(broker.port(), "homeassistant/status", "online") == 0 &&
               WaitUntil([&] { return subscriber->on(prefix + "/errors").size() > before; });
    }
    QJsonObject State() const { return subscriber->last(prefix + "/charge/state"); }
    static QDateTime At(const QJsonValue& iso) { return QDateTime::fromString(iso.toString(), Qt::ISODate); }
    QByteArray Config(const char* path) const {
        return subscriber->on("homeassistant/" + QByteArray(path) + "/config").value(0);
    }
    qsizetype Refusals() const {
        return ReadAll(QString::fromLatin1(kControlLogFile)).count(", mqtt, refused, ");
    }
    static QStringList Command(int watts) { return {"60310=0", QStringLiteral("60314=%1").arg(watts)}; }

    Broker broker{"allow_anonymous true\n"};
    std::unique_ptr<Subscriber> subscriber;
};

} // namespace

TEST_F(ChargeControlTest, WithoutControlNothingIsHeardAndTheEntitiesAreCleared) {
    Start(false);
    Say("/charge/set", R"({"power_kw": 1})");
    Say("/charge/start", "PRESS");
    ASSERT_TRUE(Settled());
    EXPECT_TRUE(server.writes().isEmpty());
    EXPECT_FALSE(shell.form().txtStatus.contains("Managed charge"));
    EXPECT_EQ(Config("number/TX2026SN0042/charge_power"), "(null)");
}

TEST_F(ChargeControlTest, LiveCommandsStartAndStopRetainedOnesAndBadOnesNeverWrite) {
    Start(true);
    ASSERT_TRUE(WaitUntil([&] { return !Config("button/TX2026SN0042/charge_stop").isEmpty(); }));
    // The power's top is the rated battery power; the retained set was reported, not acted on.
    EXPECT_EQ(Json(Config("number/TX2026SN0042/charge_power")).value("max").toDouble(), 5.0);
    ASSERT_TRUE(WaitUntil([&] { return Refusals() == 1; }));

    // A one-minute charge that ends by itself.
    Say("/charge/set", R"({"power_kw": 2.5, "minutes": 1, "target_soc": 90})");
    ASSERT_TRUE(WaitUntil([&] { return server.writes().size() == 2 && State().value("active") == true; }));
    QJsonObject state = State(); // the times with their offset from UTC, as Home Assistant reads them
    EXPECT_EQ(At(state.take("started")), clock.now());
    EXPECT_EQ(At(state.take("ends_at")), clock.now().addSecs(60));
    ASSERT_TRUE(WaitUntil([&] { return State().value("state") == "running"; }));
    state = State();
    state.remove("started");
    state.remove("ends_at");
    EXPECT_EQ(state, Json(R"({"active":true,"source":"mqtt","power_kw":2.5,"target_soc":90,"end_reason":null,
                              "state":"running","end_confirmed":true,"device_power_w":2500,
                              "not_started_here":false})"));
    clock.advance(61000);
    shell.charge().Tick();
    ASSERT_TRUE(WaitUntil([&] { return server.writes().size() == 4 && State().value("state") == "idle"; }));
    EXPECT_EQ(server.writes(), Command(2500) + Command(0));
    EXPECT_EQ(State().value("end_reason"), "time limit over");

    // Refused with a reason each, nothing written.
    for (const char* bad :
         {R"({"power_kw": "2"})", "two kW", R"({"power_kw": 9})", R"({"power_kw": 1, "minutes": 721})",
          R"({"power_kw": 1, "minutes": 0.5})", R"({"minutes": 5})", R"({"power": 1})"}) {
        Say("/charge/set", bad);
    }
    Say("/charge/start", "PRESS"); // no power set yet
    // The two well-formed starts came within a second of the last start: one refusal says so.
    ASSERT_TRUE(WaitUntil([&] { return Refusals() == 8; }))
        << ReadAll(QString::fromLatin1(kControlLogFile)).toStdString();
    for (const char* reason : {"power_kw must be a number", "not JSON", "minutes must be a whole number",
                               "more than one start command a second", "power_kw is missing",
                               "unknown key \"power\"", "no charge power set"}) {
        EXPECT_TRUE(shell.form().txtStatus.contains(reason)) << reason;
    }

    // Home Assistant's way: the numbers (retained settings), then the button, a second after the
    // last start; then the stop.
    QTest::qWait(1100);
    Say("/charge/power_kw", "1.5", {"-r"});
    Say("/charge/minutes", "30", {"-r"});
    Say("/charge/start", "PRESS");
    ASSERT_TRUE(WaitUntil([&] { return server.writes().size() == 6 && State().value("active") == true; }));
    EXPECT_EQ(server.writes().mid(4), Command(1500));
    EXPECT_EQ(At(State().value("ends_at")), clock.now().addSecs(30 * 60));
    Say("/charge/stop", "PRESS");
    ASSERT_TRUE(WaitUntil([&] { return server.writes().size() == 8 && State().value("state") == "idle"; }));
    EXPECT_EQ(server.writes().mid(6), Command(0));
    EXPECT_EQ(State().value("end_reason"), "stop asked");
}

TEST(ChargeControlSettings, ControlComesFromTheFileOrTheCommandLineAndNeedsABroker) {
    QTemporaryDir dir;
    const QString conf = dir.filePath(QStringLiteral("modbusclient.conf"));
    CommandLine options;
    QString error, output;
    bool exitNow = false;
    ASSERT_TRUE(ParseCommandLine({"ModbusClient", "--mqtt-control"}, &options, &error, &exitNow, &output));
    const auto control = [&](const BrokerOptions& line, const QByteArray& file) {
        WriteAll(conf, "[mqtt]\n" + file);
        BrokerSettings s;
        return ResolveBrokerSettings(line, ReadBrokerConf(conf), {}, &s, &error) ? int(s.control) : -1;
    };
    EXPECT_EQ(control(options.mqtt, "host = broker.lan\n"), 1);
    EXPECT_EQ(control({}, "host = broker.lan\ncontrol = Yes\n"), 1); // 1: control, -1: refused
    EXPECT_EQ(control({}, "host = broker.lan\ncontrol = maybe\n"), -1);
    EXPECT_TRUE(error.contains("must be true or false")) << error.toStdString();
    EXPECT_EQ(control(options.mqtt, ""), -1) << "no broker";
}

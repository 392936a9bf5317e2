#include "broker_fixture.h"

#include "energy/night.h"
#include "publish/discovery.h"
#include "publish/state_message.h"

#include <QSet>
#include <QTimeZone>

#include <charconv>
#include <cstring>
#include <random>

namespace {

class HomeAssistantTest : public PublishTest {
protected:
    void Start() {
        ASSERT_TRUE(broker.start());
        Publish(On(broker.port()));
        publisher->pollPeriodMs = [this] { return periodMs; };
        subscriber = std::make_unique<Subscriber>(broker.port());
        Connect();
        ASSERT_TRUE(WaitUntil([&] { return configs().size() == 20; }));
    }
    // The discovery configs received, by topic.
    QHash<QByteArray, QJsonObject> configs() const {
        QHash<QByteArray, QJsonObject> found;
        for (auto i = subscriber->received.cbegin(); i != subscriber->received.cend(); ++i) {
            if (i.key().endsWith("/config") && i.value().last() != "(null)") {
                found.insert(i.key(), subscriber->last(i.key()));
            }
        }
        return found;
    }
    QList<QByteArray> availability() const { return subscriber->on(prefix + "/availability"); }
    // Another client's word on the broker; "-r": retained, as a last will is.
    void Say(const QString& topic, const QString& payload, const QStringList& retain = {}) {
        ASSERT_EQ(MosquittoPub(broker.port(), topic, payload, retain), 0);
    }

    Broker broker{"allow_anonymous true\n"};
    std::unique_ptr<Subscriber> subscriber;
    int periodMs = 60000;
};

} // namespace

TEST_F(HomeAssistantTest, TheDiscoverySetNamesUnitsClassesIdsAndOneDeviceAndComesAgainOnBirth) {
    Start();
    const QHash<QByteArray, QJsonObject> all = configs();
    // unit, device class, state class; diagnostic ones marked "d".
    const QStringList power{"W", "power", "measurement"};
    const QStringList energy{"kWh", "energy", "total_increasing"};
    QHash<QString, QStringList> expected{{"soc", {"%", "battery", "measurement"}},
                                         {"level_kwh", {"kWh", "energy_storage", "measurement"}},
                                         {"rated_battery_power", {"W", "power", "", "d"}},
                                         {"rated_pv_power", {"W", "power", "", "d"}},
                                         {"capacity_kwh", {"kWh", "energy_storage", "", "d"}},
                                         {"time", {"", "timestamp", "", "d"}},
                                         {"errors", {"", "", "", "d"}}};
    for (const QString flow : {"pv_charge", "pv_discharge", "grid_charge", "grid_discharge"}) {
        expected.insert(flow + "_power", power);
        expected.insert(flow + "_today", energy);
        expected.insert(flow + "_total", energy);
    }
    QSet<QString> ids;
    const QJsonObject device =
        all.value("homeassistant/sensor/TX2026SN0042/soc/config").value("device").toObject();
    for (auto i = expected.cbegin(); i != expected.cend(); ++i) {
        const QJsonObject c = all.value("homeassistant/sensor/TX2026SN0042/" + i.key().toUtf8() + "/config");
        const QStringList got{c.value("unit_of_measurement").toString(), c.value("device_class").toString(),
                              c.value("state_class").toString(),
                              c.value("entity_category").toString().left(1)};
        EXPECT_EQ(got, i.value() + QStringList(4 - i.value().size(), QString())) << i.key().toStdString();
        ids.insert(c.value("unique_id").toString());
        EXPECT_EQ(c.value("device").toObject(), device);
        EXPECT_EQ(c.value("origin").toObject(), Json(R"({"name":"ModbusClient","sw_version":"1.4.0"})"));
        EXPECT_EQ(c.value("expire_after").toInt(), i.key() == "errors" ? 0 : 180) << i.key().toStdString();
    }
    EXPECT_EQ(ids.size(), 19);
    EXPECT_TRUE(ids.contains(QStringLiteral("modbusclient_TX2026SN0042_pv_charge_today")));
    EXPECT_EQ(all.value("homeassistant/sensor/TX2026SN0042/pv_charge_power/config").value("name"),
              QStringLiteral("PV charge power"));
    EXPECT_EQ(device, Json(R"({"identifiers":["modbusclient_TX2026SN0042"],"name":"Home battery TX2026SN0042",
        "manufacturer":"Talvex","model":"Battery inverter","serial_number":"TX2026SN0042","sw_version":"FW12",
        "hw_version":"V0.0"})"));
    const QJsonObject link = all.value("homeassistant/binary_sensor/TX2026SN0042/link/config");
    EXPECT_EQ(link.value("device_class"), QStringLiteral("connectivity"));
    EXPECT_EQ(link.value("state_topic").toString().toUtf8(), prefix + "/availability");
    // What earlier versions configured and no longer exists is cleared.
    EXPECT_EQ(subscriber->on("homeassistant/sensor/TX2026SN0042/pv_power/config"),
              QList<QByteArray>{"(null)"});

    // Home Assistant starts again and says so: it gets everything again.
    subscriber->received.clear();
    Say(QStringLiteral("homeassistant/status"), QStringLiteral("online"));
    ASSERT_TRUE(
        WaitUntil([&] { return configs().size() == 20 && !subscriber->on(prefix + "/errors").isEmpty(); }));
    EXPECT_EQ(availability(), QList<QByteArray>{"online"});
    EXPECT_EQ(subscriber->on(prefix + "/state").size(), 1);

    // Serials that differ only in what a topic cannot hold stay two devices.
    Reading a = shell.reading();
    Reading b = shell.reading();
    a.serial = QStringLiteral("TX/2026 0042");
    b.serial = QStringLiteral("TX 2026/0042");
    EXPECT_NE(DiscoveryMessages(a, {}, 1).value(0).topic, DiscoveryMessages(b, {}, 1).value(0).topic);

    // A new serial: the earlier device's configs go, the new one's come.
    subscriber->received.clear();
    Reading other = shell.reading();
    other.serial = QStringLiteral("TX2026SN0043");
    publisher->cycleCompleted(other);
    ASSERT_TRUE(WaitUntil([&] { return configs().size() == 20; }));
    EXPECT_EQ(subscriber->on("homeassistant/sensor/TX2026SN0042/soc/config"), QList<QByteArray>{"(null)"});
    EXPECT_TRUE(configs().contains("homeassistant/sensor/TX2026SN0043/soc/config"));
}

TEST_F(HomeAssistantTest, FiguresAreKwhAndADayCountsOnlyFromANightSnapshot) {
    Start();
    ASSERT_TRUE(WaitUntil([&] { return !subscriber->on(prefix + "/state").isEmpty(); }));
    QJsonObject state = subscriber->last(prefix + "/state");
    EXPECT_EQ(state.value("pv_charge_total").toDouble(), 1.5); // 1500 Wh
    EXPECT_TRUE(state.value("pv_charge_today").isNull()) << "no night snapshot: unknown, not the lifetime";

    // A snapshot: the day counts from it, and a counter that went back gives no figure.
    WriteAll(QStringLiteral("BatteryNight.txt"), "PVChargeLife = 1000\r\nPVDischargeLife = 0\r\n"
                                                 "GridChargeLife = 100\r\nGridDischargeLife = 0\r\n");
    readNight(shell.form());
    ASSERT_TRUE(Cycle());
    ASSERT_TRUE(WaitUntil([&] { return subscriber->on(prefix + "/state").size() == 2; }));
    state = subscriber->last(prefix + "/state");
    EXPECT_EQ(state.value("pv_charge_today").toDouble(), 0.5);
    EXPECT_TRUE(state.value("grid_charge_today").isNull()) << "90 Wh now, 100 at midnight";

    // A device that counts kWh is published as it counts.
    publisher.reset();
    BrokerSettings settings = On(broker.port());
    settings.deviceCountsKwh = true;
    Publish(settings);
    ASSERT_TRUE(Cycle());
    ASSERT_TRUE(WaitUntil([&] { return subscriber->on(prefix + "/state").size() == 3; }));
    EXPECT_EQ(subscriber->last(prefix + "/state").value("pv_charge_total").toDouble(), 1500);
}

TEST_F(HomeAssistantTest, AvailabilityFollowsCompleteCyclesAndPutsAStrayOfflineRight) {
    Start();
    ASSERT_TRUE(WaitUntil([&] { return availability() == QList<QByteArray>{"online"}; }));

    // Every read refused: the link stands, no cycle completes, offline after three periods.
    periodMs = 100;
    ASSERT_TRUE(Cycle());
    server.script = QList<FakeServer::Fault>(20, FakeServer::Fault::Exception);
    QElapsedTimer stale;
    stale.start();
    shell.Timer2_Timer();
    ASSERT_TRUE(WaitUntil([&] { return availability().value(1) == "offline"; }));
    EXPECT_GE(stale.elapsed(), 250);
    EXPECT_TRUE(shell.form().isConnected);
    server.script.clear();
    periodMs = 60000;
    ASSERT_TRUE(Cycle());
    ASSERT_TRUE(WaitUntil([&] { return availability().value(2) == "online"; }));

    // A second instance stops and leaves its "offline": said right again while polling works.
    Say(QString::fromUtf8(prefix + "/availability"), QStringLiteral("offline"), {"-r"});
    ASSERT_TRUE(WaitUntil([&] { return availability().size() == 5; }));
    EXPECT_EQ(availability().mid(3), (QList<QByteArray>{"offline", "online"}));

    // The error log's count and newest entry, as diagnostics.
    shell.log().ErrorHandle(QStringLiteral("13"), QStringLiteral("2"), QStringLiteral("Test"));
    ASSERT_TRUE(WaitUntil([&] { return subscriber->last(prefix + "/errors").value("count") == 1; }));
    EXPECT_EQ(subscriber->last(prefix + "/errors").value("last_entry").toString(), shell.log().lastEntry());
}

// The program's own refusal, exit code 2, is the program_mqtt_wildcard_topic test.
TEST(BrokerPrefixTest, AWildcardOrEmptyLevelInThePrefixIsRefusedAndTheEnergyUnitRead) {
    BrokerSettings settings;
    QString error;
    for (const char* bad : {"home/+", "home/#", "$SYS/battery", "home//battery", "/home"}) {
        EXPECT_FALSE(ResolveBrokerSettings({"broker", bad, {}, {}, {}, {}}, {}, {}, &settings, &error))
            << bad;
        EXPECT_TRUE(error.contains(QLatin1String(bad))) << error.toStdString();
    }
    EXPECT_TRUE(ResolveBrokerSettings({"broker", "home/battery", {}, {}, {}, {}}, {}, {}, &settings, &error));
    EXPECT_FALSE(settings.deviceCountsKwh);
    EXPECT_TRUE(ResolveBrokerSettings({"broker", {}, {}, {}, "kWh", {}}, {}, {}, &settings, &error));
    EXPECT_TRUE(settings.deviceCountsKwh);
    EXPECT_FALSE(ResolveBrokerSettings({"broker", {}, {}, {}, "MWh", {}}, {}, {}, &settings, &error));
}

TEST(StateTextTest, TimesAreIsoWithTheirOffset) {
    const QDateTime summer(QDate(2026, 7, 5), QTime(3, 4, 5), QTimeZone(5 * 3600 + 30 * 60));
    EXPECT_EQ(IsoTime(summer), QStringLiteral("2026-07-05T03:04:05+05:30"));
    EXPECT_EQ(IsoTime(QDateTime(QDate(2026, 12, 10), QTime(4, 0), Qt::UTC)),
              QStringLiteral("2026-12-10T04:00:00+00:00"));
}

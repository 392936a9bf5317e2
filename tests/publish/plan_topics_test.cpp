#include "broker_fixture.h"

#include "controls/charge_plan.h"

#include <QJsonArray>

namespace {

// Hourly prices from 22:00 local, as ISO times with their offset, in either list's words.
QString Prices(const QVector<double>& prices, const char* word) {
    QJsonArray list;
    QDateTime start(QDate(2026, 12, 7), QTime(22, 0));
    start = start.toOffsetFromUtc(start.offsetFromUtc());
    for (int i = 0; i < prices.size(); ++i) {
        list.append(QJsonObject{{"start", start.addSecs(3600LL * i).toString(Qt::ISODate)},
                                {"end", start.addSecs(3600LL * (i + 1)).toString(Qt::ISODate)},
                                {QLatin1String(word), prices.at(i)}});
    }
    return QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Compact));
}

QStringList SlotStarts(const QJsonObject& plan) {
    QStringList starts;
    for (const auto& slot : plan.value("slots").toArray()) {
        starts.append(QDateTime::fromString(slot.toObject().value("start").toString(), Qt::ISODate)
                          .toLocalTime()
                          .toString("HH:mm"));
    }
    return starts;
}

} // namespace

// 10 kWh from 57 to 90 % at 2.5 kW: two hours.
TEST_F(PublishTest, PricesInBothShapesMakeAPlanOnTheBrokerAndTheSwitchTurnsItOff) {
    server.registers[60032] = 10;
    shell.plan().setSettings({PlanSettings::Cheapest, QTime(7, 0), 90, std::nullopt, 0, 0.9, 2.5});
    Broker broker("allow_anonymous true\n");
    ASSERT_TRUE(broker.start());
    Subscriber subscriber(broker.port());
    const QString tariff = QString::fromUtf8(prefix) + "/tariff";
    ASSERT_EQ(MosquittoPub(broker.port(), tariff, Prices({0.3, 0.2, 0.1, 0.25, 0.15, 0.4}, "price"), {"-r"}),
              0);
    BrokerSettings brokerSettings = On(broker.port());
    brokerSettings.control = true;
    Publish(brokerSettings);
    Connect();
    const QByteArray planTopic = prefix + "/charge/plan";
    ASSERT_TRUE(WaitUntil([&] { return SlotStarts(subscriber.last(planTopic)).size() == 2; }));
    QJsonObject plan = subscriber.last(planTopic);
    EXPECT_EQ(SlotStarts(plan), QStringList({"00:00", "02:00"}));
    EXPECT_TRUE(plan["enabled"].toBool());
    EXPECT_NEAR(plan["expected_cost"].toDouble(), 2.5 * (0.1 + 0.15), 1e-9);
    EXPECT_EQ(QDateTime::fromString(plan["next_start"].toString(), Qt::ISODate),
              QDateTime(QDate(2026, 12, 8), QTime(0, 0)));

    // Home Assistant's attribute lists, sent as they are.
    const QString theirs = QStringLiteral(R"({"raw_today": %1, "raw_tomorrow": []})")
                               .arg(Prices({0.01, 0.2, 0.1, 0.25, 0.15, 0.4}, "value"));
    ASSERT_EQ(MosquittoPub(broker.port(), tariff, theirs), 0);
    ASSERT_TRUE(WaitUntil([&] { return SlotStarts(subscriber.last(planTopic)).value(0) == "22:00"; }));
    EXPECT_EQ(SlotStarts(subscriber.last(planTopic)), QStringList({"22:00", "00:00"}));
    EXPECT_EQ(subscriber.last(planTopic)["reason"].toString(), "new prices from mqtt");

    // A malformed list is refused once and leaves the plan as it was.
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(MosquittoPub(broker.port(), tariff, R"([{"start": "today"}])"), 0);
    }
    const QString refusal = "Charge plan: the prices from mqtt are refused: entry 1 is not";
    ASSERT_TRUE(WaitUntil([&] { return shell.form().txtStatus.contains(refusal); }));
    // Home Assistant's birth brings the plan again: a round trip after both.
    const qsizetype said = subscriber.on(planTopic).size();
    ASSERT_EQ(MosquittoPub(broker.port(), "homeassistant/status", "online"), 0);
    ASSERT_TRUE(WaitUntil([&] { return subscriber.on(planTopic).size() > said; }));
    EXPECT_EQ(shell.form().txtStatus.count(refusal), 1);
    EXPECT_EQ(shell.plan().view().prices.first().price, 0.01);

    const auto config = [&](const char* path) {
        return QJsonDocument::fromJson(
                   subscriber.on("homeassistant/" + QByteArray(path) + "/config").value(0))
            .object();
    };
    EXPECT_EQ(config("sensor/TX2026SN0042/charge_plan_next")["device_class"].toString(), "timestamp");
    const QJsonObject onOff = config("switch/TX2026SN0042/charge_plan");
    ASSERT_EQ(onOff["name"].toString(), "Charge plan");
    ASSERT_EQ(MosquittoPub(broker.port(), onOff["command_topic"].toString(), "OFF", {"-r"}), 0);
    ASSERT_TRUE(WaitUntil([&] { return !subscriber.last(planTopic)["enabled"].toBool(); }));
    EXPECT_TRUE(subscriber.last(planTopic)["slots"].toArray().isEmpty());
    EXPECT_FALSE(subscriber.last(planTopic)["next_start"].isString());
}

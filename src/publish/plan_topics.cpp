#include "publish/plan_topics.h"

#include "controls/charge_plan.h"
#include "publish/charge_discovery.h"
#include "publish/mqtt_publisher.h"
#include "publish/state_message.h"
#include "support/clock.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

QByteArray PlanJson(const PlanView& view, bool enabled, const QDateTime& now) {
    static const char* const kStates[] = {"planned", "running", "ran"};
    const auto orNull = [](const QString& text) { return text.isEmpty() ? QJsonValue() : QJsonValue(text); };
    QJsonArray slots;
    QJsonValue next;
    for (const PlanSlot& slot : view.slots) {
        QJsonObject item;
        item.insert(QLatin1String("start"), IsoTime(slot.start));
        item.insert(QLatin1String("end"), IsoTime(slot.end));
        item.insert(QLatin1String("price"), slot.price);
        item.insert(QLatin1String("state"), QLatin1String(kStates[slot.state]));
        slots.append(item);
        if (next.isNull() && slot.state != PlanSlot::Ran && slot.end > now) {
            next = IsoTime(slot.start);
        }
    }
    QJsonObject json;
    json.insert(QLatin1String("enabled"), enabled);
    json.insert(QLatin1String("slots"), slots);
    json.insert(QLatin1String("energy_kwh"), std::round(view.energyKwh * 1000) / 1000);
    json.insert(QLatin1String("expected_cost"), std::round(view.expectedCost * 10000) / 10000);
    json.insert(QLatin1String("made"), view.made.isValid() ? QJsonValue(IsoTime(view.made)) : QJsonValue());
    json.insert(QLatin1String("reason"), orNull(view.reason));
    json.insert(QLatin1String("unmet"), orNull(view.unmet));
    json.insert(QLatin1String("next_start"), next);
    return QJsonDocument(json).toJson(QJsonDocument::Compact);
}

PlanTopics::PlanTopics(MqttPublisher& publisher, ChargePlan& plan, bool control, const Clock& clock,
                       QObject* parent)
    : QObject(parent), publisher_(publisher), plan_(plan), control_(control) {
    connect(&publisher_, &MqttPublisher::prefixChanged, this, &PlanTopics::Subscribe);
    connect(&publisher_.session(), &MqttSession::messageReceived, this,
            [this](const QByteArray& topic, const QByteArray& payload, bool) { Received(topic, payload); });
    const auto say = [this, &clock] {
        publisher_.keep(charge_topic::kPlan,
                        PlanJson(plan_.view(), plan_.enabled() && plan_.settings().enabled(), clock.now()));
    };
    connect(&plan_, &ChargePlan::changed, this, say);
    say();
    if (!publisher_.prefix().isEmpty()) {
        Subscribe(QString());
    }
}

void PlanTopics::Subscribe(const QString& previous) {
    QList<const char*> leaves{charge_topic::kTariff};
    if (control_) {
        leaves.append(charge_topic::kPlanSet);
    }
    for (const char* leaf : leaves) {
        if (!previous.isEmpty()) {
            publisher_.session().unsubscribe(previous.toUtf8() + leaf);
        }
        publisher_.session().subscribe(publisher_.prefix().toUtf8() + leaf);
    }
}

void PlanTopics::Received(const QByteArray& topic, const QByteArray& payload) {
    const QByteArray prefix = publisher_.prefix().toUtf8();
    if (!topic.startsWith(prefix) || payload.isEmpty()) {
        return; // an empty payload clears a retained message: nothing to take
    }
    const QByteArray leaf = topic.mid(prefix.size());
    if (leaf == charge_topic::kTariff) {
        plan_.offerJson(QStringLiteral("mqtt"), payload);
    } else if (control_ && leaf == charge_topic::kPlanSet) {
        // A setting, retained like the numbers: it acts whether or not the client listened when it was set.
        const QByteArray word = payload.trimmed().toUpper();
        if (word == "ON" || word == "OFF") {
            plan_.setEnabled(word == "ON", QStringLiteral("mqtt"));
        }
    }
}

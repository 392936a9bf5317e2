#pragma once

#include "controls/price_plan.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>

class ChargePlan;
class Clock;
class MqttPublisher;

// The plan for PREFIX/charge/plan: whether it is on, its slots (start, end, price, state), the
// energy, the expected cost, when and why it was made, what leaves the target unmet, and the next
// slot's start.
QByteArray PlanJson(const PlanView& view, bool enabled, const QDateTime& now);

// The charge plan on the broker: the prices come in on PREFIX/tariff (retained, from an automation
// or the simulator), the plan goes out retained on PREFIX/charge/plan, and with control Home
// Assistant's "Charge plan" switch turns it on and off on PREFIX/charge/plan/set.
class PlanTopics : public QObject {
    Q_OBJECT
public:
    PlanTopics(MqttPublisher& publisher, ChargePlan& plan, bool control, const Clock& clock,
               QObject* parent = nullptr);

private:
    void Subscribe(const QString& previous);
    void Received(const QByteArray& topic, const QByteArray& payload);

    MqttPublisher& publisher_;
    ChargePlan& plan_;
    bool control_;
};

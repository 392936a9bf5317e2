#pragma once

#include "controls/managed_charge.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <optional>

class MqttPublisher;

// The JSON of PREFIX/charge/set, {"power_kw": 2.5, "minutes": 60, "target_soc": 90}, as a request
// of the source "mqtt": 60 minutes when they are left out, no target when it is. False with the
// reason for what is not such an object; the ranges are the managed charge's to check.
bool ParseChargeSet(const QByteArray& payload, ChargeRequest* request, QString* reason);

// How the managed charge stands, for PREFIX/charge/state: active, power, start and end in ISO 8601,
// target and source; once ended, why.
QByteArray ChargeStateJson(const ChargeState& state);

// Home Assistant's hand on the managed charge, made only when control is enabled. PREFIX/charge/set
// starts one from its JSON, PREFIX/charge/start from the numbers' settings (PREFIX/charge/power_kw,
// minutes, target_soc), PREFIX/charge/stop ends it whatever it says; PREFIX/charge/state (retained)
// follows every start and end. Only a command that arrives while the client listens acts: the
// broker's retained copy, sent on subscribing, is reported and dropped, so a restart never starts a
// charge by itself. The settings may be retained: they only act through a start. Commands that
// start a charge act at most once a second, the rest of a burst refused (said once per burst);
// a stop always acts, and is subscribed at QoS 1 so that one sent while the broker link is down
// arrives when it is back.
class ChargeCommands : public QObject {
    Q_OBJECT
public:
    ChargeCommands(MqttPublisher& publisher, ManagedCharge& charge, QObject* parent = nullptr);

private:
    void Subscribe(const QString& previous);
    void Received(const QByteArray& topic, const QByteArray& payload, bool retained);
    void Setting(std::optional<double>* setting, const char* leaf, const QByteArray& payload);
    void StartFromSettings();
    ChargeRequest Refused() const;
    // False, with the burst said once, for a start within a second of the last one that acted.
    bool Paced();

    MqttPublisher& publisher_;
    ManagedCharge& charge_;
    std::optional<double> powerKw_;
    std::optional<double> minutes_;
    std::optional<double> targetSoc_;
    QElapsedTimer lastStart_;
    bool burstSaid_ = false;
};

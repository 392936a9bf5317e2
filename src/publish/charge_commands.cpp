#include "publish/charge_commands.h"

#include "controls/control_log.h"
#include "publish/charge_discovery.h"
#include "publish/mqtt_publisher.h"
#include "publish/state_message.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>

namespace {

const char* const kSource = "mqtt";
constexpr int kDefaultMinutes = 60;
const char* const kLeaves[] = {charge_topic::kSet,   charge_topic::kStart,   charge_topic::kStop,
                               charge_topic::kPower, charge_topic::kMinutes, charge_topic::kTarget};

// A whole number as the managed charge checks it; far out of range stays out of range.
bool Whole(double value, const char* name, int* out, QString* reason) {
    if (!std::isfinite(value) || value != std::floor(value)) {
        *reason = QStringLiteral("%1 must be a whole number").arg(QLatin1String(name));
        return false;
    }
    *out = static_cast<int>(std::clamp(value, -1.0, 100000.0));
    return true;
}

// The request of the source "mqtt" from its three values; the power is needed.
bool MakeRequest(const std::optional<double>& powerKw, const std::optional<double>& minutes,
                 const std::optional<double>& targetSoc, ChargeRequest* request, QString* reason) {
    request->source = QLatin1String(kSource);
    request->powerKw = powerKw.value_or(0);
    int whole = 0;
    if (targetSoc) {
        if (!Whole(*targetSoc, "target_soc", &whole, reason)) {
            return false;
        }
        request->targetSoc = whole;
    }
    request->minutes = kDefaultMinutes;
    if (minutes) {
        if (!Whole(*minutes, "minutes", &whole, reason)) {
            return false;
        }
        request->minutes = whole;
    }
    return true;
}

} // namespace

bool ParseChargeSet(const QByteArray& payload, ChargeRequest* request, QString* reason) {
    *request = ChargeRequest{QLatin1String(kSource), 0, std::nullopt, std::nullopt};
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(payload, &error);
    if (!document.isObject()) {
        *reason = error.error != QJsonParseError::NoError
                      ? QStringLiteral("not JSON (%1 at byte %2)").arg(error.errorString()).arg(error.offset)
                      : QStringLiteral("not a JSON object");
        return false;
    }
    const QJsonObject object = document.object();
    std::optional<double> values[3];
    const char* const keys[] = {"power_kw", "minutes", "target_soc"};
    for (auto i = object.constBegin(); i != object.constEnd(); ++i) {
        const auto key = std::find_if(std::begin(keys), std::end(keys),
                                      [&](const char* k) { return i.key() == QLatin1String(k); });
        if (key == std::end(keys)) {
            *reason = QStringLiteral("unknown key %1 (power_kw, minutes, target_soc)").arg(Quoted(i.key()));
            return false;
        }
        if (!i.value().isDouble() && !i.value().isNull()) {
            *reason = QStringLiteral("%1 must be a number").arg(i.key());
            return false;
        }
        if (i.value().isDouble()) {
            values[key - std::begin(keys)] = i.value().toDouble();
        }
    }
    if (!values[0]) {
        *reason = QStringLiteral("power_kw is missing");
        return false;
    }
    return MakeRequest(values[0], values[1], values[2], request, reason);
}

QByteArray ChargeStateJson(const ChargeState& state) {
    const auto time = [](const QDateTime& t) { return t.isValid() ? QJsonValue(IsoTime(t)) : QJsonValue(); };
    const auto orNull = [](const QString& text) { return text.isEmpty() ? QJsonValue() : QJsonValue(text); };
    static const char* const kPhases[] = {"idle", "starting", "running", "ending"};
    QJsonObject json;
    json.insert(QLatin1String("active"), state.active);
    json.insert(QLatin1String("state"), QLatin1String(kPhases[static_cast<int>(state.phase)]));
    json.insert(QLatin1String("end_confirmed"), state.endConfirmed);
    json.insert(QLatin1String("device_power_w"),
                state.deviceWatts ? QJsonValue(*state.deviceWatts) : QJsonValue());
    json.insert(QLatin1String("not_started_here"), state.foreign);
    json.insert(QLatin1String("source"), orNull(state.source));
    json.insert(QLatin1String("power_kw"), state.active ? state.powerKw : 0.0);
    json.insert(QLatin1String("started"), state.active ? time(state.started) : QJsonValue());
    json.insert(QLatin1String("ends_at"), state.active ? time(state.endsAt) : QJsonValue());
    json.insert(QLatin1String("target_soc"),
                state.active && state.targetSoc ? QJsonValue(*state.targetSoc) : QJsonValue());
    json.insert(QLatin1String("end_reason"), state.active ? QJsonValue() : orNull(state.lastEndReason));
    return QJsonDocument(json).toJson(QJsonDocument::Compact);
}

ChargeCommands::ChargeCommands(MqttPublisher& publisher, ManagedCharge& charge, QObject* parent)
    : QObject(parent), publisher_(publisher), charge_(charge) {
    connect(&publisher_, &MqttPublisher::prefixChanged, this, &ChargeCommands::Subscribe);
    connect(&publisher_.session(), &MqttSession::messageReceived, this, &ChargeCommands::Received);
    const auto say = [this] { publisher_.keep(charge_topic::kState, ChargeStateJson(charge_.state())); };
    connect(&charge_, &ManagedCharge::stateChanged, this, say);
    say();
    if (!publisher_.prefix().isEmpty()) {
        Subscribe(QString());
    }
}

void ChargeCommands::Subscribe(const QString& previous) {
    for (const char* leaf : kLeaves) {
        if (!previous.isEmpty()) {
            publisher_.session().unsubscribe(previous.toUtf8() + leaf);
        }
        // A stop must not be lost to a reconnect: QoS 1 in a session the broker keeps.
        publisher_.session().subscribe(publisher_.prefix().toUtf8() + leaf,
                                       leaf == charge_topic::kStop ? 1 : 0);
    }
}

ChargeRequest ChargeCommands::Refused() const {
    ChargeRequest request;
    request.source = QLatin1String(kSource);
    return request;
}

void ChargeCommands::Received(const QByteArray& topic, const QByteArray& payload, bool retained) {
    const QByteArray prefix = publisher_.prefix().toUtf8();
    if (!topic.startsWith(prefix)) {
        return;
    }
    const QByteArray leaf = topic.mid(prefix.size());
    if (leaf == charge_topic::kPower) {
        Setting(&powerKw_, "power_kw", payload);
    } else if (leaf == charge_topic::kMinutes) {
        Setting(&minutes_, "minutes", payload);
    } else if (leaf == charge_topic::kTarget) {
        Setting(&targetSoc_, "target_soc", payload);
    } else if (leaf != charge_topic::kSet && leaf != charge_topic::kStart && leaf != charge_topic::kStop) {
        return;
    } else if (retained) {
        charge_.refuse(Refused(), QStringLiteral("%1 was retained on the broker: only a command sent "
                                                 "while the client listens acts")
                                      .arg(QString::fromUtf8(topic)));
    } else if (leaf == charge_topic::kStop) {
        charge_.stop(QLatin1String(kSource));
    } else if (leaf == charge_topic::kStart) {
        StartFromSettings();
    } else {
        ChargeRequest request;
        QString reason;
        if (ParseChargeSet(payload, &request, &reason)) {
            if (Paced()) {
                charge_.start(request);
            }
        } else {
            charge_.refuse(request, QString::fromUtf8(charge_topic::kSet + 1) + QStringLiteral(": ") +
                                        reason + QStringLiteral(" in ") + Quoted(QString::fromUtf8(payload)));
        }
    }
}

bool ChargeCommands::Paced() {
    constexpr qint64 kGapMs = 1000;
    if (lastStart_.isValid() && lastStart_.elapsed() < kGapMs) {
        if (!burstSaid_) {
            burstSaid_ = true;
            charge_.refuse(Refused(), QStringLiteral("more than one start command a second; the rest of this "
                                                     "burst is dropped"));
        }
        return false;
    }
    lastStart_.start();
    burstSaid_ = false;
    return true;
}

void ChargeCommands::Setting(std::optional<double>* setting, const char* name, const QByteArray& payload) {
    const QByteArray text = payload.trimmed();
    if (text.isEmpty()) {
        setting->reset(); // a cleared setting: the default again
        return;
    }
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value)) {
        charge_.refuse(Refused(), QStringLiteral("the setting %1 %2 is not a number; it stays as it was")
                                      .arg(QLatin1String(name), Quoted(QString::fromUtf8(text))));
        return;
    }
    *setting = value;
}

void ChargeCommands::StartFromSettings() {
    ChargeRequest request;
    QString reason;
    if (!powerKw_) {
        reason = QStringLiteral("no charge power set: set \"Charge power\" (%1%2) first")
                     .arg(publisher_.prefix(), QLatin1String(charge_topic::kPower));
    }
    if (powerKw_ && MakeRequest(powerKw_, minutes_, targetSoc_, &request, &reason)) {
        if (Paced()) {
            charge_.start(request);
        }
        return;
    }
    request.source = QLatin1String(kSource);
    charge_.refuse(request, reason);
}

#include "publish/mqtt_publisher.h"

#include "support/clock.h"
#include "support/error_log.h"
#include "support/file_failures.h"

#include <QSet>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

const QByteArray kHomeAssistantStatus = "homeassistant/status";
// Polling faster than this sends the newest state once in each such interval: Home Assistant
// records every state it gets, and a message per millisecond costs more than the poll itself.
constexpr int kStateEveryMs = 1000;

} // namespace

MqttPublisher::MqttPublisher(const BrokerSettings& settings, const Clock& clock, ErrorLog& log,
                             QObject* parent)
    : QObject(parent), session_(settings, log), clock_(clock), log_(log),
      configuredPrefix_(settings.topicPrefix), deviceCountsKwh_(settings.deviceCountsKwh),
      control_(settings.control) {
    staleTimer_.setSingleShot(true);
    connect(&staleTimer_, &QTimer::timeout, this, [this] { SetLive(false); });
    stateTimer_.setSingleShot(true);
    connect(&stateTimer_, &QTimer::timeout, this, [this] {
        NewState(held_);
        Flush();
    });
    connect(&session_, &MqttSession::sessionStarted, this, &MqttPublisher::SessionStarted);
    connect(&session_, &MqttSession::messageReceived, this, &MqttPublisher::Received);
    connect(&session_, &MqttSession::ready, this, &MqttPublisher::Flush);
    session_.subscribe(kHomeAssistantStatus);
    // An entry goes out once the event that made it is over, whatever the installation does.
    errorsTimer_.setSingleShot(true);
    errorsTimer_.setInterval(0);
    connect(&errorsTimer_, &QTimer::timeout, this, &MqttPublisher::FlushErrors);
    log_.entered = [this] { errorsTimer_.start(); };
    announced_ = ReadAnnounced();
    const QString known = configuredPrefix_.isEmpty() ? announced_.prefix : configuredPrefix_;
    if (!known.isEmpty()) {
        MoveTo(known);
        // Once the caller has set the session up (its persistent id) and the event loop runs.
        QTimer::singleShot(0, this, [this] { session_.open(); });
    }
}

MqttPublisher::~MqttPublisher() {
    log_.entered = nullptr;
    session_.publish(Topic("/availability"), "offline", true);
    session_.close();
}

void MqttPublisher::cycleCompleted(const Reading& reading) {
    correctionArmed_ = true;
    if (!ValidSerial(reading.serial)) {
        if (problems_.failed(QStringLiteral("serial"))) {
            QString shown;
            for (const QChar c : reading.serial) {
                shown += c.unicode() >= 0x20 && c.unicode() < 0x7f
                             ? QString(c)
                             : QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
            }
            SayProblem(QStringLiteral("The serial number read (\"%1\") names no device: nothing is published "
                                      "until a valid one is read")
                           .arg(shown));
        }
        return;
    }
    problems_.succeeded(QStringLiteral("serial"));
    const int periodMs = pollPeriodMs ? pollPeriodMs() : 60000;
    staleTimer_.start(3 * periodMs);
    // Expiry counts the states sent, which come at most once a second.
    // ... and a cycle may end a response time-out late: at least that and two periods, so that
    // fast polling does not make every entity flap.
    const int timeoutMs = responseTimeoutMs ? responseTimeoutMs() : 5000;
    const int expireAfterSeconds = static_cast<int>(
        std::ceil(std::max(3 * std::max(periodMs, kStateEveryMs), timeoutMs + 2 * periodMs) / 1000.0));
    if (DeviceTexts(reading) != device_ || prefix_.isEmpty() || expireAfterSeconds != expireAfterSeconds_ ||
        (control_ && reading.ratedBatteryW != ratedPower_)) {
        NewIdentity(reading, expireAfterSeconds);
    }
    const bool wasLive = live_;
    if (!live_) {
        live_ = true;
        availabilitySent_ = false;
    }
    session_.open();
    if (stateTimer_.isActive() || (periodMs < kStateEveryMs && wasLive && sinceState_.isValid() &&
                                   sinceState_.elapsed() < kStateEveryMs)) {
        // Polling fast, too soon after the last state: this cycle's figures go when the interval
        // is up, unless a newer cycle's replace them first.
        held_ = reading;
        if (!stateTimer_.isActive()) {
            stateTimer_.start(static_cast<int>(kStateEveryMs - sinceState_.elapsed()));
        }
        Flush();
        session_.keepAlive();
        return;
    }
    NewState(reading);
    Flush();
    session_.keepAlive();
}

void MqttPublisher::NewState(const Reading& reading) {
    newestState_ = StateJson(reading, deviceCountsKwh_);
    stateSent_ = false;
    sinceState_.start();
}

void MqttPublisher::NewIdentity(const Reading& reading, int expireAfterSeconds) {
    device_ = DeviceTexts(reading);
    ratedPower_ = reading.ratedBatteryW;
    expireAfterSeconds_ = expireAfterSeconds;
    const QString prefix =
        configuredPrefix_.isEmpty() ? DefaultTopicPrefix(reading.serial) : configuredPrefix_;
    const QList<MqttMessage> discovery = DiscoveryMessages(reading, prefix, expireAfterSeconds, control_);
    if (discovery_.isEmpty()) {
        clear_ = RetiredConfigTopics(reading, control_);
    }
    QSet<QByteArray> topics;
    for (const MqttMessage& message : discovery) {
        topics.insert(message.topic);
    }
    // A new serial number: the earlier device goes from Home Assistant.
    for (const MqttMessage& message : discovery_) {
        if (!topics.contains(message.topic)) {
            clear_.append(message.topic);
        }
    }
    discovery_ = discovery;
    discoverySent_ = false;
    if (prefix != prefix_) {
        const bool started = !prefix_.isEmpty();
        MoveTo(prefix);
        if (started) {
            session_.restart();
        }
    }
    Announce(reading);
}

void MqttPublisher::MoveTo(const QString& prefix) {
    // The topics and the last will move: a fresh session carries them.
    if (!prefix_.isEmpty()) {
        session_.unsubscribe(Topic("/availability"));
    }
    const QString previous = std::exchange(prefix_, prefix);
    session_.setWill(Topic("/availability"), "offline");
    session_.subscribe(Topic("/availability"));
    availabilitySent_ = false;
    Q_EMIT prefixChanged(previous);
}

void MqttPublisher::Announce(const Reading& reading) {
    const Announced now{Printable(reading.serial), prefix_};
    if (now.serial == announced_.serial && now.prefix == announced_.prefix) {
        return;
    }
    if (!announced_.serial.isEmpty() && announced_.serial != now.serial) {
        // Another installation, or another battery in it: the device announced before would stay in
        // Home Assistant with entities no one updates.
        Reading earlier;
        earlier.serial = announced_.serial;
        QSet<QByteArray> current;
        for (const MqttMessage& message : discovery_) {
            current.insert(message.topic);
        }
        for (const MqttMessage& message : DiscoveryMessages(earlier, announced_.prefix, 0, true)) {
            if (!current.contains(message.topic) && !clear_.contains(message.topic)) {
                clear_.append(message.topic);
            }
        }
        SayProblem(QStringLiteral("The serial number is now %1, no longer %2: the Home Assistant device %2 "
                                  "is removed")
                       .arg(now.serial, announced_.serial));
    }
    FileFailure failure;
    if (WriteAnnounced(now, &failure)) {
        announced_ = now;
        problems_.succeeded(QStringLiteral("announced"));
    } else if (problems_.failed(QStringLiteral("announced"))) {
        SayProblem(QStringLiteral("Cannot write \"%1\" (%2): a new serial number may leave the old device "
                                  "in Home Assistant")
                       .arg(QString::fromLatin1(kAnnouncedFile), failure.description));
    }
}

void MqttPublisher::SayProblem(const QString& text) {
    log_.ErrorHandle(QStringLiteral("Identity"), QStringLiteral("0"), QStringLiteral("MqttPublisher"), text);
    if (session_.notify) {
        session_.notify(text);
    }
}

void MqttPublisher::keep(const QByteArray& leaf, const QByteArray& payload) {
    auto found = std::find_if(kept_.begin(), kept_.end(), [&](const Kept& k) { return k.leaf == leaf; });
    if (found == kept_.end()) {
        kept_.append({leaf, payload, false});
    } else {
        found->payload = payload;
        found->sent = false;
    }
    Flush();
}

void MqttPublisher::linkLost() {
    staleTimer_.stop();
    if (stateTimer_.isActive()) {
        // The last complete cycle's figures are still the newest there are.
        stateTimer_.stop();
        NewState(held_);
    }
    SetLive(false);
}

void MqttPublisher::SetLive(bool live) {
    if (live_ != live) {
        live_ = live;
        availabilitySent_ = false;
    }
    Flush();
}

void MqttPublisher::SessionStarted() {
    // A broker that came back may have lost every retained message: say it all again.
    discoverySent_ = false;
    availabilitySent_ = false;
    stateSent_ = newestState_.isEmpty();
    errorsSaid_ = -1;
    for (Kept& k : kept_) {
        k.sent = false;
    }
}

void MqttPublisher::Received(const QByteArray& topic, const QByteArray& payload, bool retained) {
    if (topic == kHomeAssistantStatus) {
        if (payload == "online") {
            // Home Assistant (re)started and may have forgotten the entities and their states.
            SessionStarted();
            Flush();
        }
        return;
    }
    // The stored copy comes on subscribing, just before this session says its own; anything else
    // there is another client's word (a second instance stopping), put right.
    if (topic == Topic("/availability") && !retained && payload != availabilitySaid_ && correctionArmed_) {
        correctionArmed_ = false;
        availabilitySent_ = false;
        Flush();
    }
}

void MqttPublisher::Flush() {
    // Output still waiting for the socket: the newest state waits with it, no queue grows.
    if (!session_.connected() || session_.busy() || prefix_.isEmpty()) {
        return;
    }
    for (const QByteArray& topic : std::exchange(clear_, {})) {
        session_.publish(topic, QByteArray(), true);
    }
    if (!discoverySent_) {
        for (const MqttMessage& message : discovery_) {
            session_.publish(message.topic, message.payload, true);
        }
        discoverySent_ = true;
    }
    if (!availabilitySent_) {
        availabilitySaid_ = live_ ? "online" : "offline";
        session_.publish(Topic("/availability"), availabilitySaid_, true);
        availabilitySent_ = true;
    }
    if (!stateSent_) {
        session_.publish(Topic("/state"), newestState_, true);
        stateSent_ = true;
    }
    FlushErrors();
    for (Kept& k : kept_) {
        if (!k.sent) {
            session_.publish(prefix_.toUtf8() + k.leaf, k.payload, true);
            k.sent = true;
        }
    }
}

void MqttPublisher::FlushErrors() {
    // Said at once, even behind output still waiting for the socket: entries are few.
    if (session_.connected() && !prefix_.isEmpty() && errorsSaid_ != log_.entriesSinceStart() &&
        session_.publish(Topic("/errors"), ErrorsJson(log_.entriesSinceStart(), log_.lastEntry()), true)) {
        errorsSaid_ = log_.entriesSinceStart();
    }
}

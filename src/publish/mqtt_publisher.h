#pragma once

#include "publish/broker_memory.h"
#include "publish/broker_settings.h"
#include "publish/discovery.h"
#include "publish/mqtt_session.h"

#include "model/reading.h"
#include "support/failure_runs.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>

class Clock;
class ErrorLog;

// What the installation looks like on the broker: the newest state, Home Assistant's discovery
// configs, the availability and the error-log count. It connects once the first poll has named
// the installation (its serial number is in the topics and the last will), or at once under the
// prefix configured or last announced from the working folder, so that the availability and the
// errors are there while the installation cannot be reached. A serial number that is no valid text
// names nothing: such a cycle is not published. While the broker is
// away only the newest state is kept. The availability says "online" while poll cycles complete,
// "offline" once none has for three poll periods or the link is lost, and is said again when
// anything else appears there; Home Assistant's birth message brings everything again.
class MqttPublisher : public QObject {
    Q_OBJECT
public:
    MqttPublisher(const BrokerSettings& settings, const Clock& clock, ErrorLog& log,
                  QObject* parent = nullptr);
    // Says "offline" on the way out: a clean disconnect sends no last will.
    ~MqttPublisher() override;

    // A poll cycle completed: its figures are the newest state.
    void cycleCompleted(const Reading& reading);
    // The link to the installation is lost: the figures are no longer live.
    void linkLost();

    // A retained message under the prefix ("/charge/state"), said now and again on each new
    // session and on Home Assistant's birth; the newest payload replaces one still unsent.
    void keep(const QByteArray& leaf, const QByteArray& payload);

    // The poll period now: three of them without a complete cycle and the figures are stale.
    std::function<int()> pollPeriodMs;
    // How long the link waits for an answer: a state may come that much later than its period.
    std::function<int()> responseTimeoutMs;

    // The broker session, for whatever else is said or heard on the broker.
    MqttSession& session() { return session_; }
    void setReconnectDelays(int firstMs, int lastMs) { session_.setReconnectDelays(firstMs, lastMs); }
    void setAnswerTimeoutMs(int ms) { session_.setAnswerTimeoutMs(ms); }
    bool connected() const { return session_.connected(); }
    bool reconnectPending() const { return session_.reconnectPending(); }
    int attempts() const { return session_.attempts(); }
    QString brokerText() const { return session_.brokerText(); }
    const QString& prefix() const { return prefix_; }
    bool online() const { return live_; }
    bool control() const { return control_; }

Q_SIGNALS:
    // The topics moved to a new prefix (the first one included); the next session carries them.
    void prefixChanged(const QString& previous);

private:
    void NewIdentity(const Reading& reading, int expireAfterSeconds);
    void MoveTo(const QString& prefix);
    void Announce(const Reading& reading);
    void SayProblem(const QString& text);
    void FlushErrors();
    void SessionStarted();
    void Received(const QByteArray& topic, const QByteArray& payload, bool retained);
    void SetLive(bool live);
    void Flush();
    void NewState(const Reading& reading);
    QByteArray Topic(const char* leaf) const { return prefix_.toUtf8() + leaf; }

    MqttSession session_;
    const Clock& clock_;
    ErrorLog& log_;
    QString configuredPrefix_;
    bool deviceCountsKwh_;
    bool control_;
    QTimer staleTimer_;

    QString prefix_;
    DeviceIdentityTexts device_;
    int64_t ratedPower_ = -1; // the number's top for the charge power
    int expireAfterSeconds_ = 0;
    QList<MqttMessage> discovery_;
    // Retained configs to remove: an earlier device's, figures no longer published.
    QList<QByteArray> clear_;
    QByteArray newestState_;
    bool stateSent_ = true;
    // Polling faster than once a second: the newest cycle waiting for its turn.
    QElapsedTimer sinceState_;
    QTimer stateTimer_;
    Reading held_;
    bool discoverySent_ = false;
    bool availabilitySent_ = false;
    bool live_ = false;
    QByteArray availabilitySaid_;
    // One correction of the availability per poll cycle: two clients on one prefix that disagree
    // never trade messages faster than they poll.
    bool correctionArmed_ = true;
    int errorsSaid_ = -1;
    QTimer errorsTimer_;
    // The device the folder announced last; a bad serial read and a failing write, said once a run.
    Announced announced_;
    FailureRuns problems_;
    struct Kept {
        QByteArray leaf;
        QByteArray payload;
        bool sent;
    };
    QList<Kept> kept_;
};

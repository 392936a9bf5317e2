#pragma once

#include "publish/broker_settings.h"
#include "publish/state_message.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <functional>
#include <memory>

class Clock;
class ErrorLog;
struct Form;
struct mosquitto;

// Publishes the installation's figures to an MQTT broker from the program's own event loop: the
// library's socket is watched by socket notifiers and its housekeeping runs on a timer, and no
// call into the library ever waits for the broker, so a slow, silent or absent broker never holds
// a poll. It connects once the first poll has named the installation (its serial number is in the
// topics and the last will). While the broker is away only the newest state is kept.
class MqttPublisher : public QObject {
    Q_OBJECT
public:
    MqttPublisher(BrokerSettings settings, const Clock& clock, ErrorLog& log, QObject* parent = nullptr);
    // Says "offline" on the way out: a clean disconnect sends no last will.
    ~MqttPublisher() override;

    // A poll cycle completed: its figures are the newest state.
    void cycleCompleted(const Form& form);
    // The link to the installation is lost: the figures are no longer live.
    void linkLost();

    // A status line: a broker failure (once per run of failures) or a connection made.
    std::function<void(const QString&)> notify;

    // Pause before the next attempt, doubling from first to last while the broker stays away.
    void setReconnectDelays(int firstMs, int lastMs);
    // How long a broker may take to accept the session once its port has answered.
    void setAnswerTimeoutMs(int ms) { answerTimer_.setInterval(ms); }

    bool connected() const { return connected_; }
    bool reconnectPending() const { return reconnectTimer_.isActive(); }
    // Sessions begun so far, successful or not.
    int attempts() const { return attempts_; }
    const QString& prefix() const { return prefix_; }
    QString brokerText() const;

private:
    static void OnConnack(mosquitto* mosq, void* self, int rc);
    static void OnDisconnect(mosquitto* mosq, void* self, int rc);

    void Connect();
    void StartClient(const QString& host);
    void AfterLoop(int rc);
    void Connected();
    void Flush();
    bool Publish(const QByteArray& topic, const QByteArray& payload, bool retain);
    void UpdateWriteNotifier();
    void Failed(int number, int step, const QString& description);
    // This session is over: reported (once per run of failures), the next one paced.
    void GiveUp(int number, int step, const QString& description);
    void Teardown();
    void ScheduleReconnect();

    BrokerSettings settings_;
    const Clock& clock_;
    ErrorLog& log_;
    mosquitto* mosq_ = nullptr;
    std::unique_ptr<QSocketNotifier> readNotifier_;
    std::unique_ptr<QSocketNotifier> writeNotifier_;
    QTimer miscTimer_;
    QTimer answerTimer_;
    QTimer reconnectTimer_;
    int firstDelayMs_ = 1000;
    int lastDelayMs_ = 60000;
    int delayMs_ = 1000;
    int attempts_ = 0;
    bool resolving_ = false;
    bool connected_ = false;
    bool failing_ = false;
    // What the library's callbacks saw, handled once the library call has returned.
    int connackRc_ = -1;
    bool dropped_ = false;
    int dropErrno_ = 0;

    QString prefix_;
    DeviceIdentityTexts device_;
    QList<MqttMessage> discovery_;
    QByteArray newestState_;
    bool stateSent_ = true;
    bool linkUp_ = false;
    bool discoverySent_ = false;
    bool availabilitySent_ = false;
};

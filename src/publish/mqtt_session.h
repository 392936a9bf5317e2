#pragma once

#include "publish/broker_settings.h"
#include "support/backoff.h"
#include "support/failure_runs.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <functional>
#include <memory>

class ErrorLog;
struct mosquitto;
struct mosquitto_message;

// One broker session at a time, run from the program's own event loop: the library's socket is
// watched by socket notifiers and its housekeeping runs on a timer, and no call into the library
// ever waits for the broker, so a slow, silent or absent broker never holds a poll. A session
// that fails is reported (once per run of failures) and the next one paced, doubling the pause.
// What is said on the broker is the layer above's: it names the last will and the topics to
// subscribe to, publishes once the session is ready, and gets every message received.
class MqttSession : public QObject {
    Q_OBJECT
public:
    MqttSession(BrokerSettings settings, ErrorLog& log, QObject* parent = nullptr);
    ~MqttSession() override;

    // The last will of the sessions to come (retained).
    void setWill(const QByteArray& topic, const QByteArray& payload);
    // A topic filter subscribed to in this session, if one is up, and in every one after.
    void subscribe(const QByteArray& filter, int qos = 0);
    // Sessions under this client id that the broker keeps across reconnects (not clean): a
    // QoS 1 message sent while the link was down still arrives.
    void setPersistentId(const QByteArray& clientId) { clientId_ = clientId; }
    void unsubscribe(const QByteArray& filter);

    // Starts a session unless one is up, under way or paced.
    void open();
    // Ends the session at once (its last will goes out) and starts a fresh one.
    void restart();
    // A clean goodbye: no last will.
    void close();

    // False when no session is up or the library refused the message (reported once per run).
    bool publish(const QByteArray& topic, const QByteArray& payload, bool retain);
    // Output still waits for the socket: the layer above holds back what it can replace.
    bool busy() const;
    // The library's keep-alive work, done in a wake-up the program has anyway.
    void keepAlive();

    // A status line: a broker failure (once per run of failures) or a connection made.
    std::function<void(const QString&)> notify;

    void setReconnectDelays(int firstMs, int lastMs);
    // How long a broker may take to accept the session once its port has answered.
    void setAnswerTimeoutMs(int ms) { answerTimer_.setInterval(ms); }

    bool connected() const { return connected_; }
    bool reconnectPending() const { return reconnectTimer_.isActive(); }
    // Sessions begun so far, successful or not.
    int attempts() const { return attempts_; }
    QString brokerText() const;

Q_SIGNALS:
    // The broker accepted the session and the subscriptions are asked for: a broker that came
    // back may have lost every retained message.
    void sessionStarted();
    // A message on a subscribed topic; retained: the broker's stored copy, sent on subscribing.
    void messageReceived(const QByteArray& topic, const QByteArray& payload, bool retained);
    // The socket took what was waiting: the layer above may publish.
    void ready();

private:
    struct Received {
        QByteArray topic;
        QByteArray payload;
        bool retained;
    };
    static void OnConnack(mosquitto* mosq, void* self, int rc);
    static void OnDisconnect(mosquitto* mosq, void* self, int rc);
    static void OnMessage(mosquitto* mosq, void* self, const mosquitto_message* message);
    static void OnLog(mosquitto* mosq, void* self, int level, const char* text);
    // The cause behind a refusal or a failed session, where one is known.
    QString Cause(int connack, const QString& text) const;

    void Connect();
    void StartClient(const QString& host);
    bool Checked(int rc, int step, const char* what, const QByteArray& topic);
    void AfterLoop(int rc);
    void Started();
    void UpdateWriteNotifier();
    void Failed(int number, int step, const QString& description);
    // This session is over: reported (once per run of failures), the next one paced.
    void GiveUp(int number, int step, const QString& description);
    void Teardown();

    BrokerSettings settings_;
    ErrorLog& log_;
    mosquitto* mosq_ = nullptr;
    std::unique_ptr<QSocketNotifier> readNotifier_;
    std::unique_ptr<QSocketNotifier> writeNotifier_;
    QTimer miscTimer_;
    QElapsedTimer sinceMisc_;
    QTimer answerTimer_;
    QTimer reconnectTimer_;
    Backoff backoff_{1000, 60000};
    int attempts_ = 0;
    bool resolving_ = false;
    bool connected_ = false;
    FailureRuns runs_; // "session" and "publish"
    QByteArray willTopic_;
    QByteArray willPayload_;
    QList<QPair<QByteArray, int>> filters_; // filter and QoS
    QByteArray clientId_;
    // What the library's callbacks saw, handled once the library call has returned.
    int connackRc_ = -1;
    bool dropped_ = false;
    int dropErrno_ = 0;
    QList<Received> received_;
    // The library said the broker's certificate did not verify.
    bool certificateRejected_ = false;
};

#include "publish/mqtt_session.h"

#include "support/classic_errors.h"
#include "support/error_log.h"

#include <QHostAddress>
#include <QHostInfo>

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace {

// The library pings after this long without a message from the broker, which QoS 0 publishing
// never brings: at 30 s that was a wake-up of its own every third idle cycle. A client that
// vanishes is still unavailable within 90 s by the will, and sooner by the state's expiry.
constexpr int kKeepAliveSeconds = 60;
const char* const kProcedure = "MqttSession";

void InitLibrary() {
    static const bool done = [] {
        mosquitto_lib_init();
        return true;
    }();
    (void)done;
}

// The library's texts end in a full stop; the entry goes on after them.
QString Clause(const char* text) {
    QString clause = QString::fromUtf8(text);
    if (clause.endsWith(QLatin1Char('.'))) {
        clause.chop(1);
    }
    return clause;
}

QString LibraryText(int rc, int error) {
    return Clause(rc == MOSQ_ERR_ERRNO ? std::strerror(error) : mosquitto_strerror(rc));
}

// A refused call: the classic number that says why.
int CallNumber(int rc, int error) {
    switch (rc) {
    case MOSQ_ERR_ERRNO:
        return ClassicSocketErrno(error);
    case MOSQ_ERR_NOMEM:
        return 7; // out of memory
    case MOSQ_ERR_NO_CONN:
    case MOSQ_ERR_CONN_LOST:
        return 10053;
    default:
        return 5; // invalid procedure call or argument: a topic or payload the library refused
    }
}

} // namespace

MqttSession::MqttSession(BrokerSettings settings, ErrorLog& log, QObject* parent)
    : QObject(parent), settings_(std::move(settings)), log_(log) {
    InitLibrary();
    // The library's keep-alive work (a ping after 60 s of quiet) needs no finer tick, and an idle
    // service should wake as seldom as it can: the ping goes within 71 s, inside the broker's 90.
    // Poll cycles do the work as they come (keepAlive), so polling at up to 11 s never wakes it.
    miscTimer_.setInterval(11000);
    answerTimer_.setInterval(10000);
    answerTimer_.setSingleShot(true);
    reconnectTimer_.setSingleShot(true);
    connect(&miscTimer_, &QTimer::timeout, this, [this] { AfterLoop(mosquitto_loop_misc(mosq_)); });
    connect(&answerTimer_, &QTimer::timeout, this, [this] {
        GiveUp(10060, 20, QStringLiteral("no answer within %1 s").arg(answerTimer_.interval() / 1000.0));
    });
    connect(&reconnectTimer_, &QTimer::timeout, this, [this] { Connect(); });
}

MqttSession::~MqttSession() {
    Teardown();
}

void MqttSession::setWill(const QByteArray& topic, const QByteArray& payload) {
    willTopic_ = topic;
    willPayload_ = payload;
}

void MqttSession::subscribe(const QByteArray& filter, int qos) {
    if (std::any_of(filters_.cbegin(), filters_.cend(), [&](const auto& f) { return f.first == filter; })) {
        return;
    }
    filters_.append({filter, qos});
    if (connected_) {
        Checked(mosquitto_subscribe(mosq_, nullptr, filter.constData(), qos), 50, "cannot subscribe to ",
                filter);
    }
}

void MqttSession::unsubscribe(const QByteArray& filter) {
    if (filters_.removeIf([&](const auto& f) { return f.first == filter; }) > 0 && connected_) {
        Checked(mosquitto_unsubscribe(mosq_, nullptr, filter.constData()), 50, "cannot unsubscribe from ",
                filter);
    }
}

void MqttSession::setReconnectDelays(int firstMs, int lastMs) {
    backoff_ = Backoff(firstMs, lastMs);
}

QString MqttSession::brokerText() const {
    return settings_.host + QLatin1Char(':') + QString::number(settings_.port);
}

void MqttSession::open() {
    if (mosq_ == nullptr && !resolving_ && !reconnectTimer_.isActive()) {
        Connect();
    }
}

void MqttSession::restart() {
    if (mosq_ != nullptr || resolving_) {
        Teardown();
        reconnectTimer_.stop();
    }
    open();
}

void MqttSession::close() {
    if (connected_) {
        mosquitto_disconnect(mosq_);
    }
    Teardown();
    reconnectTimer_.stop();
}

void MqttSession::keepAlive() {
    if (mosq_ == nullptr || (sinceMisc_.isValid() && sinceMisc_.elapsed() < 1000)) {
        return;
    }
    sinceMisc_.start();
    miscTimer_.start();
    AfterLoop(mosquitto_loop_misc(mosq_));
}

bool MqttSession::busy() const {
    return mosq_ != nullptr && mosquitto_want_write(mosq_);
}

bool MqttSession::publish(const QByteArray& topic, const QByteArray& payload, bool retain) {
    if (!connected_) {
        return false;
    }
    const bool ok =
        Checked(mosquitto_publish(mosq_, nullptr, topic.constData(), static_cast<int>(payload.size()),
                                  payload.constData(), 0, retain),
                40, "cannot publish on ", topic);
    if (ok) {
        runs_.succeeded(QStringLiteral("publish"));
    }
    UpdateWriteNotifier();
    return ok;
}

// A refused publish or subscription ends no session: it is reported once per run of refusals.
bool MqttSession::Checked(int rc, int step, const char* what, const QByteArray& topic) {
    if (rc == MOSQ_ERR_SUCCESS) {
        return true;
    }
    const int error = errno;
    if (runs_.failed(QStringLiteral("publish"))) {
        const QString text = QStringLiteral("MQTT broker ") + brokerText() + QStringLiteral(": ") +
                             QLatin1String(what) + QString::fromUtf8(topic) + QStringLiteral(": ") +
                             LibraryText(rc, error);
        log_.ErrorHandle(QString::number(CallNumber(rc, error)), QString::number(step),
                         QLatin1String(kProcedure), text);
        if (notify) {
            notify(text);
        }
    }
    return false;
}

void MqttSession::Connect() {
    const QHostAddress address(settings_.host);
    if (!address.isNull()) {
        StartClient(settings_.host);
        return;
    }
    // The library would look the name up itself, and a slow resolver would hold the event loop.
    resolving_ = true;
    QHostInfo::lookupHost(settings_.host, this, [this](const QHostInfo& info) {
        resolving_ = false;
        if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
            GiveUp(11001, 10, QStringLiteral("host not found: ") + info.errorString());
            return;
        }
        // A name with several addresses (::1 and 127.0.0.1) gets each in turn, attempt by attempt.
        // TLS checks the certificate against the name, so it is given the name and looks it up
        // once more; a name that did not resolve never gets that far.
        const QList<QHostAddress> addresses = info.addresses();
        StartClient(settings_.caFile.isEmpty() ? addresses.at(attempts_ % addresses.size()).toString()
                                               : settings_.host);
    });
}

void MqttSession::StartClient(const QString& host) {
    Teardown();
    ++attempts_;
    mosq_ = mosquitto_new(clientId_.isEmpty() ? nullptr : clientId_.constData(), clientId_.isEmpty(), this);
    if (mosq_ == nullptr) {
        GiveUp(7, 10, QStringLiteral("out of memory"));
        return;
    }
    mosquitto_connect_callback_set(mosq_, &MqttSession::OnConnack);
    mosquitto_disconnect_callback_set(mosq_, &MqttSession::OnDisconnect);
    mosquitto_message_callback_set(mosq_, &MqttSession::OnMessage);
    if (!settings_.caFile.isEmpty()) {
        // Only for TLS: every message the library logs would otherwise be formatted for nothing.
        mosquitto_log_callback_set(mosq_, &MqttSession::OnLog);
    }
    int rc = mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    if (rc == MOSQ_ERR_SUCCESS && !willTopic_.isEmpty()) {
        rc = mosquitto_will_set(mosq_, willTopic_.constData(), static_cast<int>(willPayload_.size()),
                                willPayload_.constData(), 1, true);
    }
    if (rc == MOSQ_ERR_SUCCESS && !settings_.user.isEmpty()) {
        rc = mosquitto_username_pw_set(mosq_, settings_.user.toUtf8().constData(),
                                       settings_.password.isEmpty() ? nullptr
                                                                    : settings_.password.constData());
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        const int error = errno;
        GiveUp(CallNumber(rc, error), 10,
               QStringLiteral("cannot set up the session: ") + LibraryText(rc, error));
        return;
    }
    if (!settings_.caFile.isEmpty()) {
        rc = mosquitto_tls_set(mosq_, settings_.caFile.toLocal8Bit().constData(), nullptr, nullptr, nullptr,
                               nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            GiveUp(53, 10, QStringLiteral("cannot use the CA file ") + settings_.caFile);
            return;
        }
    }
    rc = mosquitto_connect_async(mosq_, host.toUtf8().constData(), settings_.port, kKeepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
        const int error = errno;
        GiveUp(rc == MOSQ_ERR_ERRNO ? ClassicSocketErrno(error) : 10053, 10,
               Cause(0, LibraryText(rc, error)));
        return;
    }
    const int fd = mosquitto_socket(mosq_);
    readNotifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    writeNotifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    connect(readNotifier_.get(), &QSocketNotifier::activated, this,
            [this] { AfterLoop(mosquitto_loop_read(mosq_, 1)); });
    connect(writeNotifier_.get(), &QSocketNotifier::activated, this,
            [this] { AfterLoop(mosquitto_loop_write(mosq_, 1)); });
    miscTimer_.start();
    answerTimer_.start();
    UpdateWriteNotifier();
}

void MqttSession::OnConnack(mosquitto*, void* self, int rc) {
    static_cast<MqttSession*>(self)->connackRc_ = rc;
}

void MqttSession::OnDisconnect(mosquitto*, void* self, int) {
    auto* session = static_cast<MqttSession*>(self);
    session->dropErrno_ = errno;
    session->dropped_ = true;
}

void MqttSession::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
    static_cast<MqttSession*>(self)->received_.append(
        {QByteArray(message->topic),
         QByteArray(static_cast<const char*>(message->payload), message->payloadlen), message->retain});
}

void MqttSession::OnLog(mosquitto*, void* self, int level, const char* text) {
    // TLS failures come back as one code; only the library's log says which check failed.
    if (level == MOSQ_LOG_ERR && std::strstr(text, "certificate verify failed") != nullptr) {
        static_cast<MqttSession*>(self)->certificateRejected_ = true;
    }
}

QString MqttSession::Cause(int connack, const QString& text) const {
    if (certificateRejected_) {
        return QStringLiteral(
                   "certificate verification failed: the broker's certificate is not signed by the CA "
                   "in %1, or does not name %2")
            .arg(settings_.caFile, settings_.host);
    }
    if ((connack == 4 || connack == 5) && !settings_.user.isEmpty() && settings_.password.isEmpty()) {
        return text + QStringLiteral(": no password for user %1, as %2 is not set")
                          .arg(settings_.user, QString::fromLatin1(kPasswordVariable));
    }
    return text;
}

void MqttSession::AfterLoop(int rc) {
    if (mosq_ == nullptr) {
        return;
    }
    const int connack = connackRc_;
    connackRc_ = -1;
    if (connack == 0) {
        Started();
    } else if (connack > 0) {
        GiveUp(10061, 20, Cause(connack, Clause(mosquitto_connack_string(connack))));
        return;
    }
    if (dropped_ || (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN) || mosquitto_socket(mosq_) < 0) {
        const int error = dropped_ ? dropErrno_ : errno;
        const bool wasConnected = connected_;
        QString text = wasConnected ? QStringLiteral("connection lost") : QStringLiteral("cannot connect");
        if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN) {
            text += QStringLiteral(": ") + LibraryText(rc, error);
        }
        GiveUp(rc == MOSQ_ERR_ERRNO ? ClassicSocketErrno(error) : 10053, wasConnected ? 30 : 10,
               Cause(0, text));
        return;
    }
    const mosquitto* session = mosq_;
    const QList<Received> received = std::exchange(received_, {});
    for (const Received& message : received) {
        Q_EMIT messageReceived(message.topic, message.payload, message.retained);
        if (mosq_ != session) {
            return; // the layer above ended the session
        }
    }
    if (connected_ && !mosquitto_want_write(mosq_)) {
        Q_EMIT ready();
    }
    if (mosq_ == session) {
        UpdateWriteNotifier();
    }
}

void MqttSession::Started() {
    answerTimer_.stop();
    connected_ = true;
    runs_.succeeded(QStringLiteral("session"));
    runs_.succeeded(QStringLiteral("publish"));
    backoff_.reset();
    for (const auto& [filter, qos] : filters_) {
        Checked(mosquitto_subscribe(mosq_, nullptr, filter.constData(), qos), 50, "cannot subscribe to ",
                filter);
    }
    if (notify) {
        notify(QStringLiteral("Connected to MQTT broker at ") + brokerText());
    }
    Q_EMIT sessionStarted();
}

void MqttSession::UpdateWriteNotifier() {
    if (writeNotifier_ != nullptr) {
        writeNotifier_->setEnabled(mosq_ != nullptr && mosquitto_want_write(mosq_));
    }
}

void MqttSession::Failed(int number, int step, const QString& description) {
    if (!runs_.failed(QStringLiteral("session"))) {
        return;
    }
    const QString text = QStringLiteral("MQTT broker ") + brokerText() + QStringLiteral(": ") + description +
                         QStringLiteral("; retrying");
    log_.ErrorHandle(QString::number(number), QString::number(step), QLatin1String(kProcedure), text);
    if (notify) {
        notify(text);
    }
}

void MqttSession::Teardown() {
    // The notifiers go before the socket they watch.
    readNotifier_.reset();
    writeNotifier_.reset();
    miscTimer_.stop();
    answerTimer_.stop();
    if (mosq_ != nullptr) {
        mosquitto_destroy(mosq_);
        mosq_ = nullptr;
    }
    connected_ = false;
    connackRc_ = -1;
    dropped_ = false;
    received_.clear();
    certificateRejected_ = false;
}

void MqttSession::GiveUp(int number, int step, const QString& description) {
    Teardown();
    Failed(number, step, description);
    reconnectTimer_.start(backoff_.next());
}

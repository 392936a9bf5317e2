#include "publish/mqtt_publisher.h"

#include "support/clock.h"
#include "support/error_log.h"

#include <QHostAddress>
#include <QHostInfo>

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr int kKeepAliveSeconds = 30;
const char* const kProcedure = "MqttPublisher";

void InitLibrary() {
    static const bool done = [] {
        mosquitto_lib_init();
        return true;
    }();
    (void)done;
}

// The classic socket numbers, so that broker entries read like the Modbus link's.
int ClassicErrno(int error) {
    switch (error) {
    case ECONNREFUSED:
        return 10061;
    case ETIMEDOUT:
        return 10060;
    case EHOSTUNREACH:
    case ENETUNREACH:
        return 10065;
    case ECONNRESET:
    case EPIPE:
        return 10054;
    default:
        return 10053;
    }
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

} // namespace

MqttPublisher::MqttPublisher(BrokerSettings settings, const Clock& clock, ErrorLog& log, QObject* parent)
    : QObject(parent), settings_(std::move(settings)), clock_(clock), log_(log) {
    InitLibrary();
    miscTimer_.setInterval(1000);
    answerTimer_.setInterval(10000);
    answerTimer_.setSingleShot(true);
    reconnectTimer_.setSingleShot(true);
    connect(&miscTimer_, &QTimer::timeout, this, [this] { AfterLoop(mosquitto_loop_misc(mosq_)); });
    connect(&answerTimer_, &QTimer::timeout, this, [this] {
        GiveUp(10060, 20, QStringLiteral("no answer within %1 s").arg(answerTimer_.interval() / 1000.0));
    });
    connect(&reconnectTimer_, &QTimer::timeout, this, [this] { Connect(); });
}

MqttPublisher::~MqttPublisher() {
    if (connected_) {
        Publish(prefix_.toUtf8() + "/availability", "offline", true);
        mosquitto_disconnect(mosq_);
    }
    Teardown();
}

void MqttPublisher::setReconnectDelays(int firstMs, int lastMs) {
    firstDelayMs_ = firstMs;
    lastDelayMs_ = lastMs;
    delayMs_ = firstMs;
}

QString MqttPublisher::brokerText() const {
    return settings_.host + QLatin1Char(':') + QString::number(settings_.port);
}

void MqttPublisher::cycleCompleted(const Form& form) {
    newestState_ = StateJson(form, clock_.now());
    stateSent_ = false;
    if (!linkUp_) {
        linkUp_ = true;
        availabilitySent_ = false;
    }
    const DeviceIdentityTexts device = DeviceTexts(form);
    if (device != device_ || prefix_.isEmpty()) {
        // A new identity (the serial number read again) may move the topics and the last will:
        // a fresh session carries them.
        device_ = device;
        const QString prefix =
            settings_.topicPrefix.isEmpty() ? DefaultTopicPrefix(form) : settings_.topicPrefix;
        discovery_ = DiscoveryMessages(form, prefix);
        discoverySent_ = false;
        if (prefix != prefix_ && (mosq_ != nullptr || resolving_)) {
            Teardown();
            reconnectTimer_.stop();
        }
        prefix_ = prefix;
    }
    if (mosq_ == nullptr && !resolving_ && !reconnectTimer_.isActive()) {
        Connect();
    }
    Flush();
}

void MqttPublisher::linkLost() {
    if (!linkUp_) {
        return;
    }
    linkUp_ = false;
    availabilitySent_ = false;
    Flush();
}

void MqttPublisher::Connect() {
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

void MqttPublisher::StartClient(const QString& host) {
    Teardown();
    ++attempts_;
    mosq_ = mosquitto_new(nullptr, true, this);
    if (mosq_ == nullptr) {
        GiveUp(7, 10, QStringLiteral("out of memory"));
        return;
    }
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(mosq_, &MqttPublisher::OnConnack);
    mosquitto_disconnect_callback_set(mosq_, &MqttPublisher::OnDisconnect);
    const QByteArray willTopic = prefix_.toUtf8() + "/availability";
    mosquitto_will_set(mosq_, willTopic.constData(), 7, "offline", 1, true);
    if (!settings_.user.isEmpty()) {
        mosquitto_username_pw_set(mosq_, settings_.user.toUtf8().constData(),
                                  settings_.password.isEmpty() ? nullptr : settings_.password.constData());
    }
    if (!settings_.caFile.isEmpty()) {
        const int rc = mosquitto_tls_set(mosq_, settings_.caFile.toLocal8Bit().constData(), nullptr, nullptr,
                                         nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            GiveUp(53, 10, QStringLiteral("cannot use the CA file ") + settings_.caFile);
            return;
        }
    }
    const int rc =
        mosquitto_connect_async(mosq_, host.toUtf8().constData(), settings_.port, kKeepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
        const int error = errno;
        GiveUp(rc == MOSQ_ERR_ERRNO ? ClassicErrno(error) : 10053, 10, LibraryText(rc, error));
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

void MqttPublisher::OnConnack(mosquitto*, void* self, int rc) {
    static_cast<MqttPublisher*>(self)->connackRc_ = rc;
}

void MqttPublisher::OnDisconnect(mosquitto*, void* self, int) {
    auto* publisher = static_cast<MqttPublisher*>(self);
    publisher->dropErrno_ = errno;
    publisher->dropped_ = true;
}

void MqttPublisher::AfterLoop(int rc) {
    if (mosq_ == nullptr) {
        return;
    }
    const int connack = connackRc_;
    connackRc_ = -1;
    if (connack == 0) {
        Connected();
    } else if (connack > 0) {
        GiveUp(10061, 20, Clause(mosquitto_connack_string(connack)));
        return;
    }
    if (dropped_ || (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN) || mosquitto_socket(mosq_) < 0) {
        const int error = dropped_ ? dropErrno_ : errno;
        const bool wasConnected = connected_;
        QString text = wasConnected ? QStringLiteral("connection lost") : QStringLiteral("cannot connect");
        if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN) {
            text += QStringLiteral(": ") + LibraryText(rc, error);
        }
        GiveUp(rc == MOSQ_ERR_ERRNO ? ClassicErrno(error) : 10053, wasConnected ? 30 : 10, text);
        return;
    }
    if (connected_) {
        Flush();
    }
    UpdateWriteNotifier();
}

void MqttPublisher::Connected() {
    answerTimer_.stop();
    connected_ = true;
    failing_ = false;
    delayMs_ = firstDelayMs_;
    // A broker that came back may have lost every retained message: say it all again.
    discoverySent_ = false;
    availabilitySent_ = false;
    if (notify) {
        notify(QStringLiteral("Connected to MQTT broker at ") + brokerText());
    }
}

void MqttPublisher::Flush() {
    // Output still waiting for the socket: the newest state waits with it, no queue grows.
    if (!connected_ || mosquitto_want_write(mosq_)) {
        return;
    }
    if (!discoverySent_) {
        for (const MqttMessage& message : discovery_) {
            Publish(message.topic, message.payload, true);
        }
        discoverySent_ = true;
    }
    if (!availabilitySent_) {
        Publish(prefix_.toUtf8() + "/availability", linkUp_ ? "online" : "offline", true);
        availabilitySent_ = true;
    }
    if (!stateSent_) {
        Publish(prefix_.toUtf8() + "/state", newestState_, true);
        stateSent_ = true;
    }
    UpdateWriteNotifier();
}

bool MqttPublisher::Publish(const QByteArray& topic, const QByteArray& payload, bool retain) {
    return mosquitto_publish(mosq_, nullptr, topic.constData(), static_cast<int>(payload.size()),
                             payload.constData(), 0, retain) == MOSQ_ERR_SUCCESS;
}

void MqttPublisher::UpdateWriteNotifier() {
    if (writeNotifier_ != nullptr) {
        writeNotifier_->setEnabled(mosq_ != nullptr && mosquitto_want_write(mosq_));
    }
}

void MqttPublisher::Failed(int number, int step, const QString& description) {
    if (failing_) {
        return; // once per run of failures
    }
    failing_ = true;
    const QString text = QStringLiteral("MQTT broker ") + brokerText() + QStringLiteral(": ") + description +
                         QStringLiteral("; retrying");
    log_.ErrorHandle(QString::number(number), QString::number(step), QLatin1String(kProcedure), text);
    if (notify) {
        notify(text);
    }
}

void MqttPublisher::Teardown() {
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
}

void MqttPublisher::GiveUp(int number, int step, const QString& description) {
    Teardown();
    Failed(number, step, description);
    ScheduleReconnect();
}

void MqttPublisher::ScheduleReconnect() {
    reconnectTimer_.start(delayMs_);
    delayMs_ = std::min(delayMs_ * 2, lastDelayMs_);
}

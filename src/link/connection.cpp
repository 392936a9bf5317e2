#include "link/connection.h"

#include "link/framing.h"
#include "link/status_pane.h"
#include "model/form.h"
#include "support/error_log.h"
#include "support/event_boundary.h"
#include "support/prompter.h"
#include "support/text_forms.h"

#include <QLocale>
#include <algorithm>
#include <utility>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

const char* const kCheckServerMessage =
    "check the IP address is correct and the server is listening and retry";

namespace {

constexpr int kFirstReconnectDelayMs = 1000;
constexpr int kLastReconnectDelayMs = 60000;
constexpr int kNotConnectedNumber = 40006;
const char* const kNotConnectedText =
    "Wrong protocol or connection state for the requested transaction or request";

} // namespace

int ClassicSocketError(QAbstractSocket::SocketError error) {
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return 10061;
    case QAbstractSocket::RemoteHostClosedError:
        return 10054;
    case QAbstractSocket::HostNotFoundError:
        return 11001;
    case QAbstractSocket::SocketAccessError:
        return 10013;
    case QAbstractSocket::SocketResourceError:
        return 10055;
    case QAbstractSocket::SocketTimeoutError:
        return 10060;
    case QAbstractSocket::NetworkError:
        return 10065;
    case QAbstractSocket::AddressInUseError:
        return 10048;
    case QAbstractSocket::SocketAddressNotAvailableError:
        return 10049;
    case QAbstractSocket::UnsupportedSocketOperationError:
        return 10045;
    default:
        return 10053;
    }
}

bool ConvertWhole(const QString& text, qint64 min, qint64 max, qint64* value) {
    double v = 0;
    if (!ParseNumber(text, &v)) {
        bool ok = false;
        v = QLocale().toDouble(text.trimmed(), &ok);
        if (!ok) {
            return false;
        }
    }
    const double r = RoundHalfEven(v);
    if (r < static_cast<double>(min) || r > static_cast<double>(max)) {
        return false;
    }
    *value = static_cast<qint64>(r);
    return true;
}

ModbusLink::ModbusLink(Form& form, StatusPane& status, ErrorLog& log, Prompter& prompter,
                       EventBoundary& boundary, QObject* parent)
    : QObject(parent), form_(form), status_(status), log_(log), prompter_(prompter), boundary_(boundary) {
    responseTimer_.setSingleShot(true);
    responseTimer_.setInterval(5000);
    reconnectTimer_.setSingleShot(true);
    staleTimer_.setSingleShot(true);
    staleTimer_.setInterval(5000);
    connect(&socket_, &QTcpSocket::connected, this,
            [this] { boundary_.run(QStringLiteral("Winsock1_Connect"), [this] { Winsock1_Connect(); }); });
    connect(&socket_, &QTcpSocket::disconnected, this, [this] {
        ReleaseWatch();
        if (!ownClose_) {
            boundary_.run(QStringLiteral("Winsock1_Close"), [this] { Winsock1_Close(); });
        }
    });
    connect(&socket_, &QTcpSocket::readyRead, this, [this] {
        boundary_.run(QStringLiteral("Winsock1_DataArrival"), [this] { Winsock1_DataArrival(); });
    });
    connect(&socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        boundary_.run(QStringLiteral("Winsock1_Error_Local"), [this, error] { Winsock1_Error(error); });
    });
    connect(&responseTimer_, &QTimer::timeout, this, [this] {
        boundary_.run(QStringLiteral("HandleTimeout_Local"), [this] { ResponseTimerExpired(); });
    });
    connect(&staleTimer_, &QTimer::timeout, this, [this] {
        boundary_.run(QStringLiteral("Winsock1_DataArrival"), [this] { DiscardStalePartial(); });
    });
    connect(&reconnectTimer_, &QTimer::timeout, this,
            [this] { boundary_.run(QStringLiteral("ReconnectSocket"), [this] { ReconnectNow(); }); });
}

ModbusLink::~ModbusLink() {
    QObject::disconnect(&socket_, nullptr, this, nullptr);
    ReleaseWatch();
}

int ModbusLink::StateNumber() const {
    switch (socket_.state()) {
    case QAbstractSocket::UnconnectedState:
        return errorState_ ? 9 : 0;
    case QAbstractSocket::HostLookupState:
        return 4;
    case QAbstractSocket::ConnectingState:
        return 6;
    case QAbstractSocket::ConnectedState:
        return 7;
    case QAbstractSocket::BoundState:
        return 3;
    case QAbstractSocket::ListeningState:
        return 2;
    case QAbstractSocket::ClosingState:
        return 8;
    }
    return 0;
}

void ModbusLink::CloseSocket() {
    ownClose_ = true;
    socket_.abort();
    ReleaseWatch();
    ownClose_ = false;
    ForgetRequests();
    staleTimer_.stop();
}

void ModbusLink::ForgetRequests() {
    reader_.clear();
    pending_.Clear();
    form_.awaitingResponse = false;
}

void ModbusLink::connectcmd_Click() {
    if (form_.isConnected) {
        prompter_.message(QStringLiteral("already connected"));
        return;
    }
    form_.WinState = QString::number(StateNumber());
    qint64 port = 0;
    const QString host = form_.IP.trimmed();
    const auto state = socket_.state();
    const bool attemptUnderWay =
        state == QAbstractSocket::HostLookupState || state == QAbstractSocket::ConnectingState;
    if (attemptUnderWay || host.isEmpty() || !ConvertWhole(form_.Port, 1, 65535, &port)) {
        reconnectTimer_.stop();
        prompter_.message(QString::fromLatin1(kCheckServerMessage));
        CloseSocket();
        return;
    }
    // A fresh connect replaces any paced reconnect still waiting, and starts the pacing afresh.
    reconnectTimer_.stop();
    reconnectDelayMs_ = kFirstReconnectDelayMs;
    CloseSocket();
    lastHost_ = host;
    lastPort_ = static_cast<quint16>(port);
    errorState_ = false;
    socket_.connectToHost(lastHost_, lastPort_);
    form_.WinState = QString::number(StateNumber());
}

void ModbusLink::Winsock1_Connect() {
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    ReleaseWatch();
    watchFd_ = ::fcntl(static_cast<int>(socket_.socketDescriptor()), F_DUPFD_CLOEXEC, 0);
    // The pause before the next attempt shrinks only once the server has answered: a server
    // that accepts and hangs up at once must not be hammered.
    ForgetRequests();
    // The address connected to, which a reconnect keeps though the fields may have changed since.
    status_.AppendStatusLine(QStringLiteral("Connected to server at ") + lastHost_ + QLatin1Char(':') +
                             QString::number(lastPort_));
    form_.WinState = QString::number(StateNumber());
    form_.Image1 = 102;
    form_.isConnected = true;
    prompter_.ended(QString::fromLatin1(kCheckServerMessage));
    if (onConnected) {
        onConnected();
    }
}

void ModbusLink::Winsock1_Close() {
    // Nothing is outstanding on a connection that is gone.
    responseTimer_.stop();
    staleTimer_.stop();
    ForgetRequests();
    status_.AppendStatusLine(QStringLiteral("Disconnected."));
    MarkDisconnected();
    // The server went away by itself (an inverter restart): an unattended logger comes back on
    // its own, paced.
    ReconnectSocket();
}

void ModbusLink::MarkDisconnected() {
    FailQueued(QStringLiteral("the connection was lost"));
    if (onClosed) {
        onClosed();
    }
    form_.isConnected = false;
    form_.DeviceType = QStringLiteral("Unknown");
}

void ModbusLink::Winsock1_DataArrival() {
    const QByteArray bytes = socket_.readAll();
    if (reader_.pending() > 0 && partialAge_.isValid() && partialAge_.elapsed() >= staleTimer_.interval()) {
        DiscardStalePartial();
    }
    const bool startsAFrame = reader_.pending() == 0;
    reader_.append(bytes);
    bool answered = false;
    // A decoder may queue a command of its own; only a request sent before these frames is
    // answered here.
    const bool queuedOut = queue_.outstanding();
    std::optional<QByteArray> queuedAnswer;
    for (QByteArray frame = reader_.next(); !frame.isEmpty(); frame = reader_.next()) {
        const Asked asked = pending_.Take(frame);
        if (asked.kind == Asked::Kind::Nothing) {
            continue; // a second copy of an answer, or one nobody waits for
        }
        answered = true;
        if (pending_.Empty()) {
            form_.awaitingResponse = false;
            responseTimer_.stop();
        }
        reconnectDelayMs_ = kFirstReconnectDelayMs;
        const bool forQueue =
            queuedOut && !queuedAnswer &&
            (asked.kind == Asked::Kind::Write ||
             (asked.kind == Asked::Kind::Read && queue_.answersRead(asked.start, asked.quantity)));
        if (forQueue) {
            queuedAnswer = frame;
            continue; // the command's own answer: no decoder's business
        }
        // Each response is its own event: a failing decode does not stop the next one. A
        // decoder may send the next read, which the following bytes may already answer.
        boundary_.run(QStringLiteral("Winsock1_DataArrival"),
                      [&] { DispatchResponse(frame, asked, decoders_, status_); });
    }
    if (reader_.outOfStep()) {
        log_.ErrorHandle(QStringLiteral("Framing"), QStringLiteral("0"),
                         QStringLiteral("Winsock1_DataArrival"),
                         QStringLiteral("Response stream out of step; %1 received bytes discarded")
                             .arg(reader_.discarded()));
    }
    if (reader_.pending() == 0) {
        staleTimer_.stop();
    } else if (startsAFrame || answered) {
        // The first bytes of a frame do not end the wait for it, but may not wait for ever.
        partialAge_.start();
        staleTimer_.start();
    }
    if (queuedAnswer) {
        queue_.answered(*queuedAnswer);
    }
    // A batch goes on back to back; a poll read held for it goes after its last answer.
    SendQueued();
    if (deferredRead_ && queue_.empty() && !form_.awaitingResponse && form_.isConnected) {
        const DeferredRead read = *deferredRead_;
        deferredRead_.reset();
        SendModbusRequest(read.start, read.quantity, read.transactionId);
    }
}

bool ModbusLink::WasReset() const {
    tcp_info info{};
    socklen_t size = sizeof info;
    // A close leaves the connection half open (CLOSE_WAIT); a reset ends it at once.
    return watchFd_ >= 0 && ::getsockopt(watchFd_, IPPROTO_TCP, TCP_INFO, &info, &size) == 0 &&
           info.tcpi_state == TCP_CLOSE;
}

void ModbusLink::ReleaseWatch() {
    if (watchFd_ >= 0) {
        ::close(watchFd_);
        watchFd_ = -1;
    }
}

void ModbusLink::QueueCommand(const QList<QueuedRequest>& requests, CommandQueue::Done done) {
    if (!form_.isConnected) {
        if (done) {
            done(CommandAnswer{false, QStringLiteral("not connected"), {}});
        }
        return;
    }
    queue_.add(requests, std::move(done));
    SendQueued();
}

bool ModbusLink::isConnected() const {
    return form_.isConnected;
}

bool ModbusLink::ConnectOnce() {
    if (form_.isConnected || lastHost_.isEmpty()) {
        return form_.isConnected;
    }
    reconnectTimer_.stop();
    const auto state = socket_.state();
    if (state != QAbstractSocket::HostLookupState && state != QAbstractSocket::ConnectingState) {
        CloseSocket();
        ReconnectNow();
    }
    return true;
}

void ModbusLink::holdPolling(bool hold) {
    pollingHeld_ = hold;
    if (hold) {
        deferredRead_.reset();
    }
}

void ModbusLink::SendQueued() {
    if (queue_.empty() || queue_.outstanding() || form_.awaitingResponse || !form_.isConnected) {
        return;
    }
    queue_.sent();
    const QueuedRequest& request = queue_.next();
    if (request.read) {
        const QByteArray adu =
            BuildReadRequest(request.reg, static_cast<int16_t>(request.value), form_.nextTid);
        form_.awaitingResponse = true;
        if (Send(adu)) {
            pending_.AddRead(adu);
        }
    } else {
        SendWriteRegister(request.reg, request.value);
    }
}

void ModbusLink::FailQueued(const QString& reason) {
    deferredRead_.reset();
    queue_.failAll(reason);
}

void ModbusLink::Winsock1_Error(QAbstractSocket::SocketError error) {
    const bool reset = error == QAbstractSocket::RemoteHostClosedError && WasReset();
    ReleaseWatch();
    if (error == QAbstractSocket::RemoteHostClosedError && !reset) {
        return; // the disconnected signal that follows is the close event
    }
    errorState_ = true;
    log_.ErrorHandle(QString::number(ClassicSocketError(error)), QStringLiteral("0"),
                     QStringLiteral("Winsock1_Error"),
                     reset ? QStringLiteral("Connection reset by peer") : socket_.errorString());
    ForgetRequests();
    ReconnectSocket();
}

bool ModbusLink::SendReadRegisters(const QString& startText, const QString& quantityText) {
    qint64 start = 0;
    qint64 quantity = 0;
    if (!ConvertWhole(startText, INT32_MIN, INT32_MAX, &start) ||
        !ConvertWhole(quantityText, INT16_MIN, INT16_MAX, &quantity)) {
        return false;
    }
    if (form_.isConnected) {
        SendModbusRequest(static_cast<int32_t>(start), static_cast<int16_t>(quantity), form_.nextTid);
    } else {
        prompter_.repeated(QString::fromLatin1(kCheckServerMessage));
    }
    return true;
}

void ModbusLink::SendModbusRequest(int32_t start, int16_t quantity, int32_t transactionId) {
    if (pollingHeld_) {
        return;
    }
    const QByteArray adu = BuildReadRequest(start, quantity, transactionId);
    if (form_.awaitingResponse || queue_.outstanding()) {
        if (queue_.outstanding()) {
            deferredRead_ = DeferredRead{start, quantity, transactionId};
        }
        return;
    }
    form_.awaitingResponse = true;
    if (Send(adu)) {
        pending_.AddRead(adu);
    }
}

void ModbusLink::SendWriteRegister(int32_t reg, int32_t value) {
    form_.writeTid = static_cast<uint16_t>(form_.writeTid + 1);
    const QByteArray adu = BuildWriteRequest(form_.writeTid, reg, value);
    form_.awaitingResponse = true;
    if (Send(adu)) {
        pending_.AddWrite(adu);
    }
}

bool ModbusLink::Send(const QByteArray& adu) {
    if (socket_.state() != QAbstractSocket::ConnectedState) {
        SendFailed(kNotConnectedNumber, 30, QString::fromLatin1(kNotConnectedText));
        return false;
    }
    if (socket_.write(adu) != adu.size()) {
        SendFailed(ClassicSocketError(socket_.error()), 30, socket_.errorString());
        return false;
    }
    socket_.flush();
    responseTimer_.start();
    return true;
}

void ModbusLink::SendFailed(int number, int step, const QString& description) {
    log_.ErrorHandle(QString::number(number), QString::number(step), QStringLiteral("SendModbusRequest"),
                     description);
    ForgetRequests();
    ReconnectSocket();
}

void ModbusLink::ResponseTimerExpired() {
    if (form_.awaitingResponse) {
        HandleTimeout();
    }
}

void ModbusLink::DiscardStalePartial() {
    staleTimer_.stop();
    const int stale = reader_.pending();
    if (stale == 0) {
        return;
    }
    reader_.clear();
    log_.ErrorHandle(
        QStringLiteral("Framing"), QStringLiteral("0"), QStringLiteral("Winsock1_DataArrival"),
        QStringLiteral("Partial response older than the time-out; %1 received bytes discarded").arg(stale));
}

void ModbusLink::HandleTimeout() {
    log_.ErrorHandle(QStringLiteral("Timeout"), QStringLiteral("0"), QStringLiteral("HandleTimeout"),
                     QString());
    ForgetRequests();
    staleTimer_.stop();
    ReconnectSocket();
}

void ModbusLink::ReconnectSocket() {
    FailQueued(form_.isConnected ? QStringLiteral("no answer in time; reconnecting")
                                 : QStringLiteral("the connection was lost"));
    // One attempt at a time: a reconnect already waiting or under way stands.
    const auto state = socket_.state();
    if (reconnectTimer_.isActive() || lastHost_.isEmpty() || state == QAbstractSocket::HostLookupState ||
        state == QAbstractSocket::ConnectingState) {
        return;
    }
    if (form_.isConnected) {
        // The connection given up is gone as surely as a closed one: no poll goes into it
        // before the new one stands.
        MarkDisconnected();
    }
    CloseSocket();
    responseTimer_.stop();
    reconnectTimer_.start(reconnectDelayMs_);
    reconnectDelayMs_ = std::min(reconnectDelayMs_ * 2, kLastReconnectDelayMs);
}

void ModbusLink::ReconnectNow() {
    errorState_ = false;
    socket_.connectToHost(lastHost_, lastPort_);
}

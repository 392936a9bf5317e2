#include "link/connection.h"

#include "link/status_pane.h"
#include "model/form.h"
#include "support/error_log.h"
#include "support/event_boundary.h"
#include "support/prompter.h"
#include "support/text_forms.h"

#include <utility>

const char* const kCheckServerMessage =
    "check the IP address is correct and the server is listening and retry";

ModbusLink::ModbusLink(Form& form, StatusPane& status, ErrorLog& log, Prompter& prompter,
                       EventBoundary& boundary, QObject* parent)
    : QObject(parent), form_(form), status_(status), log_(log), prompter_(prompter), boundary_(boundary) {
    reconnectTimer_.setSingleShot(true);
    connect(&transport_, &Transport::connected, this,
            [this] { boundary_.run(QStringLiteral("Winsock1_Connect"), [this] { Winsock1_Connect(); }); });
    connect(&transport_, &Transport::closed, this,
            [this] { boundary_.run(QStringLiteral("Winsock1_Close"), [this] { Winsock1_Close(); }); });
    connect(&transport_, &Transport::bytesArrived, this, [this] {
        boundary_.run(QStringLiteral("Winsock1_DataArrival"), [this] { Winsock1_DataArrival(); });
    });
    connect(&transport_, &Transport::failed, this,
            [this](QAbstractSocket::SocketError error, bool reset, const QString& text) {
                boundary_.run(QStringLiteral("Winsock1_Error_Local"),
                              [&] { Winsock1_Error(error, reset, text); });
            });
    connect(&transport_, &Transport::responseTimedOut, this, [this] {
        boundary_.run(QStringLiteral("HandleTimeout_Local"), [this] {
            if (requests_.awaiting()) {
                HandleTimeout();
            }
        });
    });
    connect(&transport_, &Transport::partialDropped, this, [this](int bytes) {
        boundary_.run(QStringLiteral("Winsock1_DataArrival"),
                      [&] { LogFraming("Partial response older than the time-out", bytes); });
    });
    connect(&reconnectTimer_, &QTimer::timeout, this,
            [this] { boundary_.run(QStringLiteral("ReconnectSocket"), [this] { ReconnectNow(); }); });
}

bool ModbusLink::isConnected() const {
    return form_.isConnected;
}

void ModbusLink::CloseSocket() {
    transport_.abort();
    ForgetRequests();
}

void ModbusLink::ForgetRequests() {
    transport_.clearPartial();
    requests_.forget();
}

void ModbusLink::connectcmd_Click() {
    if (form_.isConnected) {
        prompter_.message(QStringLiteral("already connected"));
        return;
    }
    form_.WinState = QString::number(StateNumber());
    qint64 port = 0;
    const QString host = form_.IP.trimmed();
    if (transport_.attemptUnderWay() || host.isEmpty() || !ConvertWhole(form_.Port, 1, 65535, &port)) {
        reconnectTimer_.stop();
        prompter_.message(QString::fromLatin1(kCheckServerMessage));
        CloseSocket();
        return;
    }
    // A fresh connect replaces any paced reconnect still waiting, and starts the pacing afresh.
    reconnectTimer_.stop();
    backoff_.reset();
    CloseSocket();
    lastHost_ = host;
    lastPort_ = static_cast<quint16>(port);
    transport_.connectTo(lastHost_, lastPort_);
    form_.WinState = QString::number(StateNumber());
}

bool ModbusLink::ConnectOnce() {
    if (form_.isConnected || lastHost_.isEmpty()) {
        return form_.isConnected;
    }
    reconnectTimer_.stop();
    if (!transport_.attemptUnderWay()) {
        CloseSocket();
        ReconnectNow();
    }
    return true;
}

void ModbusLink::Winsock1_Connect() {
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
    transport_.answered();
    ForgetRequests();
    status_.AppendStatusLine(QStringLiteral("Disconnected."));
    MarkDisconnected();
    // The server went away by itself (an inverter restart): an unattended logger comes back on
    // its own, paced.
    ReconnectSocket();
}

void ModbusLink::MarkDisconnected() {
    requests_.failCommands(QStringLiteral("the connection was lost"));
    if (onClosed) {
        onClosed();
    }
    form_.isConnected = false;
    form_.DeviceType = QStringLiteral("Unknown");
}

void ModbusLink::Winsock1_DataArrival() {
    const Transport::Received received = transport_.receive();
    if (received.stale > 0) {
        LogFraming("Partial response older than the time-out", received.stale);
    }
    // A decoder may queue a command of its own; only a request sent before these frames is
    // answered here.
    const bool commandOut = requests_.commandOutstanding();
    std::optional<QByteArray> commandAnswer;
    for (const QByteArray& frame : received.frames) {
        const RequestQueue::Taken taken = requests_.take(frame, commandOut && !commandAnswer);
        if (taken.asked.kind == Asked::Kind::Nothing) {
            continue;
        }
        if (taken.idle) {
            transport_.answered();
        }
        backoff_.reset();
        if (taken.forCommand) {
            commandAnswer = frame;
            continue;
        }
        // Each response is its own event: a failing decode does not stop the next one. A
        // decoder may send the next read, which the following frames may already answer.
        boundary_.run(QStringLiteral("Winsock1_DataArrival"),
                      [&] { DispatchResponse(frame, taken.asked, decoders_, status_); });
    }
    if (received.outOfStep > 0) {
        LogFraming("Response stream out of step", received.outOfStep);
    }
    if (commandAnswer) {
        requests_.commandAnswered(*commandAnswer);
    }
    // A command goes on back to back; a poll read held for it goes after its last answer.
    SendQueued();
    if (form_.isConnected) {
        if (const std::optional<QByteArray> held = requests_.heldRead()) {
            Send(*held);
        }
    }
}

void ModbusLink::LogFraming(const char* what, int bytes) {
    log_.ErrorHandle(QStringLiteral("Framing"), QStringLiteral("0"), QStringLiteral("Winsock1_DataArrival"),
                     QStringLiteral("%1; %2 received bytes discarded").arg(QLatin1String(what)).arg(bytes));
}

void ModbusLink::QueueCommand(const QList<QueuedRequest>& requests, CommandQueue::Done done) {
    if (!form_.isConnected) {
        if (done) {
            done(CommandAnswer{false, QStringLiteral("not connected"), {}});
        }
        return;
    }
    requests_.queue(requests, std::move(done));
    SendQueued();
}

void ModbusLink::SendQueued() {
    if (!form_.isConnected) {
        return;
    }
    if (const std::optional<QByteArray> adu = requests_.nextQueued()) {
        Send(*adu);
    }
}

void ModbusLink::Winsock1_Error(QAbstractSocket::SocketError error, bool /*reset*/, const QString& text) {
    log_.ErrorHandle(QString::number(ClassicSocketError(error)), QStringLiteral("0"),
                     QStringLiteral("Winsock1_Error"), text);
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
        SendModbusRequest(static_cast<int32_t>(start), static_cast<int16_t>(quantity), requests_.nextTid());
    } else {
        prompter_.repeated(QString::fromLatin1(kCheckServerMessage));
    }
    return true;
}

void ModbusLink::SendModbusRequest(int32_t start, int16_t quantity, int32_t transactionId) {
    if (const std::optional<QByteArray> adu = requests_.read(start, quantity, transactionId)) {
        Send(*adu);
    }
}

void ModbusLink::SendWriteRegister(int32_t reg, int32_t value) {
    Send(requests_.write(reg, value));
}

bool ModbusLink::Send(const QByteArray& adu) {
    int number = 0;
    QString text;
    if (!transport_.send(adu, &number, &text)) {
        log_.ErrorHandle(QString::number(number), QStringLiteral("30"), QStringLiteral("SendModbusRequest"),
                         text);
        ForgetRequests();
        ReconnectSocket();
        return false;
    }
    requests_.sent(adu);
    return true;
}

void ModbusLink::HandleTimeout() {
    log_.ErrorHandle(QStringLiteral("Timeout"), QStringLiteral("0"), QStringLiteral("HandleTimeout"),
                     QString());
    ForgetRequests();
    ReconnectSocket();
}

void ModbusLink::ReconnectSocket() {
    requests_.failCommands(form_.isConnected ? QStringLiteral("no answer in time; reconnecting")
                                             : QStringLiteral("the connection was lost"));
    // One attempt at a time: a reconnect already waiting or under way stands.
    if (reconnectTimer_.isActive() || lastHost_.isEmpty() || transport_.attemptUnderWay()) {
        return;
    }
    if (form_.isConnected) {
        // The connection given up is gone as surely as a closed one: no poll goes into it
        // before the new one stands.
        MarkDisconnected();
    }
    CloseSocket();
    reconnectTimer_.start(backoff_.next());
}

void ModbusLink::ReconnectNow() {
    transport_.connectTo(lastHost_, lastPort_);
}

#pragma once

#include "link/dispatch.h"
#include "link/request_queue.h"
#include "link/transport.h"
#include "support/backoff.h"

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>

struct Form;
class StatusPane;
class ErrorLog;
class Prompter;
class EventBoundary;

extern const char* const kCheckServerMessage;

// The one Modbus TCP connection as the program meets it: the "Connect" command and its
// messages, the socket's events in their classic names, reads and writes with their lock,
// dispatch of what comes back, and paced reconnects. The bytes are the transport's, the
// bookkeeping of what is outstanding the request queue's.
class ModbusLink : public QObject {
    Q_OBJECT
public:
    ModbusLink(Form& form, StatusPane& status, ErrorLog& log, Prompter& prompter, EventBoundary& boundary,
               QObject* parent = nullptr);

    void setDecoders(DecoderTable decoders) { decoders_ = std::move(decoders); }
    void setResponseTimeoutMs(int ms) { transport_.setResponseTimeoutMs(ms); }
    int responseTimeoutMs() const { return transport_.responseTimeoutMs(); }

    // The shell's part of the connect and close events (Timer2, Timer1).
    std::function<void()> onConnected;
    std::function<void()> onClosed;

    void connectcmd_Click();
    // Converts the texts and sends a read when connected; false when nothing could be sent for
    // a text that is not a number or out of range.
    bool SendReadRegisters(const QString& startText, const QString& quantityText);
    void SendModbusRequest(int32_t start, int16_t quantity, int32_t transactionId);
    void SendWriteRegister(int32_t reg, int32_t value);
    // A batch of single-register writes and reads that keeps the one-request-at-a-time rule: it
    // goes out once nothing is outstanding and the poll cycle under way has ended, each request
    // after the answer to the one before, no poll read in between. done hears once: every echo
    // as written and every read answered, or the first failure (an exception reply, an echo
    // that differs, a time-out, not connected, a lost connection); the rest is then dropped.
    void QueueCommand(const QList<QueuedRequest>& requests, CommandQueue::Done done);
    bool commandsQueued() const { return requests_.commandsQueued(); }
    bool isConnected() const;
    bool awaitingResponse() const { return requests_.awaiting(); }
    // One attempt to connect again at once, to the address last connected to (the program's end
    // wants its last command out); false when there is none.
    bool ConnectOnce();
    // While held, no poll read goes out (the program is ending); queued commands still do.
    void holdPolling(bool hold) { requests_.holdPolling(hold); }
    void HandleTimeout();
    void ReconnectSocket();

    // The socket state in the classic numbering (0 closed, 4 resolving, 6 connecting, 7 connected,
    // 8 closing, 9 error).
    int StateNumber() const { return transport_.StateNumber(); }
    int reconnectDelayMs() const { return backoff_.peek(); }
    bool reconnectPending() const { return reconnectTimer_.isActive(); }
    // Bytes of a partial frame waiting for their rest.
    int pendingBytes() const { return transport_.pendingBytes(); }
    QTcpSocket& socket() { return transport_.socket(); }

private:
    void Winsock1_Connect();
    void Winsock1_Close();
    void Winsock1_DataArrival();
    void Winsock1_Error(QAbstractSocket::SocketError error, bool reset, const QString& text);
    void MarkDisconnected();
    void ReconnectNow();
    bool Send(const QByteArray& adu);
    void SendQueued();
    void CloseSocket();
    void ForgetRequests();
    void LogFraming(const char* what, int bytes);

    Form& form_;
    StatusPane& status_;
    ErrorLog& log_;
    Prompter& prompter_;
    EventBoundary& boundary_;
    DecoderTable decoders_;
    Transport transport_;
    RequestQueue requests_;
    QTimer reconnectTimer_;
    // The pause before the next attempt shrinks only once the server has answered: a server
    // that accepts and hangs up at once must not be hammered.
    Backoff backoff_{1000, 60000};
    QString lastHost_;
    quint16 lastPort_ = 502;
};

#pragma once

#include "link/command_queue.h"
#include "link/dispatch.h"
#include "link/frame_reader.h"

#include <QAbstractSocket>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPair>
#include <QTcpSocket>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <optional>

struct Form;
class StatusPane;
class ErrorLog;
class Prompter;
class EventBoundary;

extern const char* const kCheckServerMessage;

// The one Modbus TCP connection: the "Connect" command, the socket's events, request sending
// with its one-at-a-time lock and response time-out, reception and dispatch, paced reconnects.
class ModbusLink : public QObject {
    Q_OBJECT
public:
    ModbusLink(Form& form, StatusPane& status, ErrorLog& log, Prompter& prompter, EventBoundary& boundary,
               QObject* parent = nullptr);
    // The socket closes as the program ends; that is no event of the program's any more.
    ~ModbusLink() override;

    void setDecoders(DecoderTable decoders) { decoders_ = std::move(decoders); }
    void setResponseTimeoutMs(int ms) {
        responseTimer_.setInterval(ms);
        staleTimer_.setInterval(ms);
    }
    int responseTimeoutMs() const { return responseTimer_.interval(); }

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
    bool commandsQueued() const { return !queue_.empty(); }
    bool isConnected() const;
    // One attempt to connect again at once, to the address last connected to (the program's end
    // wants its last command out); false when there is none.
    bool ConnectOnce();
    // While held, no poll read goes out (the program is ending); queued commands still do.
    void holdPolling(bool hold);
    void HandleTimeout();
    void ReconnectSocket();

    // The socket state in the classic numbering (0 closed, 4 resolving, 6 connecting, 7 connected,
    // 8 closing, 9 error).
    int StateNumber() const;
    int reconnectDelayMs() const { return reconnectDelayMs_; }
    bool reconnectPending() const { return reconnectTimer_.isActive(); }
    // Bytes of a partial frame waiting for their rest.
    int pendingBytes() const { return reader_.pending(); }
    QTcpSocket& socket() { return socket_; }

private:
    void Winsock1_Connect();
    void Winsock1_Close();
    void Winsock1_DataArrival();
    void Winsock1_Error(QAbstractSocket::SocketError error);
    void ResponseTimerExpired();
    void DiscardStalePartial();
    void MarkDisconnected();
    void ReconnectNow();
    bool Send(const QByteArray& adu);
    void SendFailed(int number, int step, const QString& description);
    void CloseSocket();
    void SendQueued();
    void FailQueued(const QString& reason);

    struct DeferredRead {
        int32_t start = 0;
        int16_t quantity = 0;
        int32_t transactionId = 0;
    };
    // Nothing is outstanding any more: a time-out, a lost connection.
    void ForgetRequests();
    // An ECONNRESET, which Qt reports as a close and whose descriptor it has closed by then: a
    // second descriptor of the connection, held while it stands, tells.
    bool WasReset() const;
    void ReleaseWatch();

    Form& form_;
    StatusPane& status_;
    ErrorLog& log_;
    Prompter& prompter_;
    EventBoundary& boundary_;
    DecoderTable decoders_;
    FrameReader reader_;
    PendingRequests pending_;
    QTcpSocket socket_;
    QTimer responseTimer_;
    QTimer reconnectTimer_;
    // A partial frame is kept for its rest only as long as a response may take, counted from
    // its first byte; older bytes would be glued to the next answer.
    QTimer staleTimer_;
    QElapsedTimer partialAge_;
    QString lastHost_;
    quint16 lastPort_ = 502;
    int reconnectDelayMs_ = 1000;
    bool ownClose_ = false;
    bool errorState_ = false;
    CommandQueue queue_;
    bool pollingHeld_ = false;
    // A poll read that came while a queued command was outstanding goes out after the batch.
    std::optional<DeferredRead> deferredRead_;
    int watchFd_ = -1;
};

// Classic socket error number for a Qt socket error (10061 refused, 10060 timed out ...).
int ClassicSocketError(QAbstractSocket::SocketError error);

// A text converted as the program always did: nearest whole number, halves to even, within
// [min, max]; false for a text that is not a number or out of range.
bool ConvertWhole(const QString& text, qint64 min, qint64 max, qint64* value);

#pragma once

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
    // Single-register writes that keep the one-request-at-a-time rule: each goes out once nothing
    // is outstanding and the poll cycle under way has ended, the next after the echo of the one
    // before. done(true) after the last echo; done(false) at once when not connected, on an
    // exception reply, or when the connection fails first (the writes not yet sent are dropped).
    void QueueWrites(const QList<QPair<int32_t, int32_t>>& writes, std::function<void(bool ok)> done);
    bool writesQueued() const { return !writeQueue_.isEmpty() || writeOutstanding_; }
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
    void SendQueuedWrite();
    void QueuedWriteAnswered(const QByteArray& frame);
    void FailQueuedWrites();

    struct QueuedWrite {
        int32_t reg = 0;
        int32_t value = 0;
        std::function<void(bool)> done; // on the last write of a batch only
    };
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
    QList<QueuedWrite> writeQueue_;
    bool writeOutstanding_ = false;
    // A poll read that came while a queued write was outstanding goes out after its echo.
    std::optional<DeferredRead> deferredRead_;
    int watchFd_ = -1;
};

// Classic socket error number for a Qt socket error (10061 refused, 10060 timed out ...).
int ClassicSocketError(QAbstractSocket::SocketError error);

// A text converted as the program always did: nearest whole number, halves to even, within
// [min, max]; false for a text that is not a number or out of range.
bool ConvertWhole(const QString& text, qint64 min, qint64 max, qint64* value);

#pragma once

#include "link/frame_reader.h"

#include <QAbstractSocket>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>

// The Modbus TCP connection as bytes: the socket with TCP_NODELAY, the frames cut out of what
// arrives, the response time-out, a partial frame kept no longer than a response may take, and
// a reset told apart from a close. What the frames answer is the request queue's business.
class Transport : public QObject {
    Q_OBJECT
public:
    explicit Transport(QObject* parent = nullptr);
    // The socket closes as the program ends; that is no event of the program's any more.
    ~Transport() override;

    void setResponseTimeoutMs(int ms);
    int responseTimeoutMs() const { return responseTimer_.interval(); }

    void connectTo(const QString& host, quint16 port);
    // Drops the connection at once, with no closed() after it, and whatever partial frame there is.
    void abort();
    bool attemptUnderWay() const;
    bool standing() const { return socket_.state() == QAbstractSocket::ConnectedState; }
    // The socket state in the classic numbering (0 closed, 4 resolving, 6 connecting, 7 connected,
    // 8 closing, 9 error).
    int StateNumber() const;
    void setErrorState(bool error) { errorState_ = error; }

    // Writes a whole request and starts the response time-out; false, with the classic number
    // and text, when it could not go out.
    bool send(const QByteArray& adu, int* number, QString* text);
    // Nothing is outstanding any more: the time-out stops.
    void answered() { responseTimer_.stop(); }

    struct Received {
        int stale = 0; // bytes of a partial frame older than the time-out, dropped first
        QList<QByteArray> frames;
        int outOfStep = 0; // bytes where no frame could start, dropped
    };
    // What has arrived, as whole frames.
    Received receive();
    // Forgets a partial frame (a time-out, a lost connection).
    void clearPartial();
    int pendingBytes() const { return reader_.pending(); }
    QTcpSocket& socket() { return socket_; }

Q_SIGNALS:
    void connected();
    // The server closed the connection.
    void closed();
    // A socket error; reset: the server reset the connection (which Qt reports as a close).
    void failed(QAbstractSocket::SocketError error, bool reset, const QString& text);
    void bytesArrived();
    void responseTimedOut();
    // A partial frame waited longer than a response may take: its bytes were dropped.
    void partialDropped(int bytes);

private:
    bool WasReset() const;
    void ReleaseWatch();

    QTcpSocket socket_;
    FrameReader reader_;
    QTimer responseTimer_;
    // A partial frame is kept for its rest only as long as a response may take, counted from
    // its first byte; older bytes would be glued to the next answer.
    QTimer staleTimer_;
    QElapsedTimer partialAge_;
    bool ownClose_ = false;
    bool errorState_ = false;
    // An ECONNRESET, which Qt reports as a close and whose descriptor it has closed by then: a
    // second descriptor of the connection, held while it stands, tells.
    int watchFd_ = -1;
};

// Classic socket error number for a Qt socket error (10061 refused, 10060 timed out ...).
int ClassicSocketError(QAbstractSocket::SocketError error);

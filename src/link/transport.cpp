#include "link/transport.h"

#include "support/classic_errors.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

Transport::Transport(QObject* parent) : QObject(parent) {
    responseTimer_.setSingleShot(true);
    responseTimer_.setInterval(5000);
    staleTimer_.setSingleShot(true);
    staleTimer_.setInterval(5000);
    connect(&socket_, &QTcpSocket::connected, this, [this] {
        socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        ReleaseWatch();
        watchFd_ = ::fcntl(static_cast<int>(socket_.socketDescriptor()), F_DUPFD_CLOEXEC, 0);
        Q_EMIT connected();
    });
    connect(&socket_, &QTcpSocket::disconnected, this, [this] {
        ReleaseWatch();
        if (!ownClose_) {
            Q_EMIT closed();
        }
    });
    connect(&socket_, &QTcpSocket::readyRead, this, &Transport::bytesArrived);
    connect(&socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        const bool reset = error == QAbstractSocket::RemoteHostClosedError && WasReset();
        ReleaseWatch();
        if (error == QAbstractSocket::RemoteHostClosedError && !reset) {
            return; // the disconnected signal that follows is the close event
        }
        errorState_ = true;
        Q_EMIT failed(error, reset,
                      reset ? QStringLiteral("Connection reset by peer") : socket_.errorString());
    });
    connect(&responseTimer_, &QTimer::timeout, this, &Transport::responseTimedOut);
    connect(&staleTimer_, &QTimer::timeout, this, [this] {
        const int stale = reader_.pending();
        clearPartial();
        if (stale > 0) {
            Q_EMIT partialDropped(stale);
        }
    });
}

Transport::~Transport() {
    QObject::disconnect(&socket_, nullptr, this, nullptr);
    ReleaseWatch();
}

void Transport::setResponseTimeoutMs(int ms) {
    responseTimer_.setInterval(ms);
    staleTimer_.setInterval(ms);
}

void Transport::connectTo(const QString& host, quint16 port) {
    errorState_ = false;
    socket_.connectToHost(host, port);
}

void Transport::abort() {
    ownClose_ = true;
    socket_.abort();
    ReleaseWatch();
    ownClose_ = false;
    responseTimer_.stop();
    clearPartial();
}

bool Transport::attemptUnderWay() const {
    const auto state = socket_.state();
    return state == QAbstractSocket::HostLookupState || state == QAbstractSocket::ConnectingState;
}

int Transport::StateNumber() const {
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

bool Transport::send(const QByteArray& adu, int* number, QString* text) {
    if (socket_.state() != QAbstractSocket::ConnectedState) {
        *number = kNotConnectedNumber;
        *text = QString::fromLatin1(kNotConnectedText);
        return false;
    }
    if (socket_.write(adu) != adu.size()) {
        *number = ClassicSocketError(socket_.error());
        *text = socket_.errorString();
        return false;
    }
    socket_.flush();
    responseTimer_.start();
    return true;
}

Transport::Received Transport::receive() {
    Received received;
    const QByteArray bytes = socket_.readAll();
    if (reader_.pending() > 0 && partialAge_.isValid() && partialAge_.elapsed() >= staleTimer_.interval()) {
        received.stale = reader_.pending();
        clearPartial();
    }
    const bool startsAFrame = reader_.pending() == 0;
    received.frames = reader_.feed(bytes);
    received.outOfStep = reader_.discarded();
    if (reader_.pending() == 0) {
        staleTimer_.stop();
    } else if (startsAFrame || !received.frames.isEmpty()) {
        // The first bytes of a frame do not end the wait for it, but may not wait for ever.
        partialAge_.start();
        staleTimer_.start();
    }
    return received;
}

void Transport::clearPartial() {
    reader_.clear();
    staleTimer_.stop();
}

bool Transport::WasReset() const {
    tcp_info info{};
    socklen_t size = sizeof info;
    // A close leaves the connection half open (CLOSE_WAIT); a reset ends it at once.
    return watchFd_ >= 0 && ::getsockopt(watchFd_, IPPROTO_TCP, TCP_INFO, &info, &size) == 0 &&
           info.tcpi_state == TCP_CLOSE;
}

void Transport::ReleaseWatch() {
    if (watchFd_ >= 0) {
        ::close(watchFd_);
        watchFd_ = -1;
    }
}

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

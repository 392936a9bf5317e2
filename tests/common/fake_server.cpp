#include "common/fake_server.h"

#include "common/test_support.h"

#include <sys/socket.h>

namespace {

int Word(const QByteArray& bytes, int at) {
    return (static_cast<unsigned char>(bytes[at]) << 8) | static_cast<unsigned char>(bytes[at + 1]);
}

// The read a poll cycle makes after this one, as the client would send it.
QByteArray FollowingRead(const QByteArray& request) {
    QByteArray next = request;
    next[1] = static_cast<char>(request[1] + 1);
    next[8] = static_cast<char>(0xEB);
    next[9] = static_cast<char>(0x06);
    next[10] = 0;
    next[11] = 24;
    return next;
}

} // namespace

FakeServer::FakeServer(QObject* parent) : QObject(parent) {
    connect(&server_, &QTcpServer::newConnection, this, &FakeServer::onNewConnection);
    dripTimer_.setInterval(byteDelayMs);
    connect(&dripTimer_, &QTimer::timeout, this, &FakeServer::Drip);
}

bool FakeServer::listen(quint16 port) {
    if (!server_.listen(QHostAddress::LocalHost, port)) {
        return false;
    }
    port_ = server_.serverPort();
    return true;
}

void FakeServer::close() {
    server_.close();
    dripTimer_.stop();
    if (client_) {
        client_->abort();
    }
}

void FakeServer::send(const QByteArray& bytes) {
    if (client_) {
        client_->write(bytes);
        client_->flush();
    }
}

void FakeServer::onNewConnection() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        ++connections;
        client_ = socket;
        buffer_.clear();
        connect(socket, &QTcpSocket::readyRead, this, &FakeServer::onReadyRead);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

QByteArray FakeServer::Answer(const QByteArray& request) {
    const int function = static_cast<unsigned char>(request[7]);
    const int a = Word(request, 8);
    const int b = Word(request, 10);
    if (function == 3) {
        QList<int> values;
        for (int i = 0; i < b; ++i) {
            values.append(registers.value(a + i, 0));
        }
        return ReadResponse(Word(request, 0), values);
    }
    if (function == 6) {
        registers[a] = b;
        return request;
    }
    return {};
}

void FakeServer::onReadyRead() {
    auto* socket = qobject_cast<QTcpSocket*>(sender());
    if (socket == nullptr) {
        return;
    }
    buffer_.append(socket->readAll());
    while (buffer_.size() >= 12 && socket->state() == QAbstractSocket::ConnectedState) {
        const QByteArray request = buffer_.left(12);
        buffer_.remove(0, 12);
        requests.append(request);
        if (answer) {
            Meet(socket, request, script.isEmpty() ? Fault::Normal : script.takeFirst());
        }
    }
}

void FakeServer::Meet(QTcpSocket* socket, const QByteArray& request, Fault fault) {
    // A refused write leaves the register as it was.
    const bool refused = fault == Fault::Exception || fault == Fault::WrongEcho;
    const QByteArray response = refused ? QByteArray() : Answer(request);
    switch (fault) {
    case Fault::Normal:
        socket->write(response);
        ++answered;
        break;
    case Fault::Half:
        socket->write(response.left(response.size() / 2));
        break;
    case Fault::HangUp:
        buffer_.clear();
        socket->disconnectFromHost();
        break;
    case Fault::Bytewise:
        drip_ = response;
        dripTimer_.setInterval(byteDelayMs);
        dripTimer_.start();
        break;
    case Fault::Glued:
        socket->write(response + Answer(FollowingRead(request)));
        ++answered;
        break;
    case Fault::Garbage:
        socket->write(QByteArray("HTTP/1.1 400 Bad Request\r\n\r\n"));
        break;
    case Fault::WrongEcho: {
        QByteArray echo = request;
        echo[11] = static_cast<char>(request[11] + 1);
        socket->write(echo);
        break;
    }
    case Fault::Exception:
        socket->write(request.left(4) + Hex("00 03") + request.mid(6, 1) +
                      QByteArray(1, static_cast<char>(request[7] | 0x80)) + Hex("02"));
        break;
    case Fault::CloseMidFrame:
        socket->write(response.left(response.size() / 2));
        socket->flush();
        buffer_.clear();
        socket->disconnectFromHost();
        break;
    case Fault::Silent:
        break;
    case Fault::Trailing:
    case Fault::ShortLength:
    case Fault::ProtocolOne:
    case Fault::Doubled: {
        QByteArray bent = response;
        bent[5] = static_cast<char>(bent[5] - (fault == Fault::ShortLength ? 1 : 0));
        bent[3] = static_cast<char>(fault == Fault::ProtocolOne ? 1 : 0);
        socket->write(fault == Fault::Doubled ? bent + bent
                                              : bent + (fault == Fault::Trailing ? Hex("C5 1A") : ""));
        ++answered;
        break;
    }
    case Fault::Reset: {
        // No lingering: the close sends RST instead of FIN.
        const linger hard{1, 0};
        ::setsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        buffer_.clear();
        socket->abort();
        break;
    }
    }
}

void FakeServer::Drip() {
    if (!client_ || drip_.isEmpty()) {
        dripTimer_.stop();
        return;
    }
    client_->write(drip_.left(1));
    client_->flush();
    drip_.remove(0, 1);
    if (drip_.isEmpty()) {
        dripTimer_.stop();
        ++answered;
    }
}

QStringList FakeServer::writes() const {
    QStringList found;
    for (const QByteArray& r : requests) {
        const auto b = [&r](int i) { return static_cast<unsigned char>(r[i]); };
        if (b(7) == 6) {
            found << QStringLiteral("%1=%2").arg(b(8) * 256 + b(9)).arg(b(10) * 256 + b(11));
        }
    }
    return found;
}

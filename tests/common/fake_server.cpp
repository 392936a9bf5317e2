#include "common/fake_server.h"

#include "common/test_support.h"

FakeServer::FakeServer(QObject* parent) : QObject(parent) {
    connect(&server_, &QTcpServer::newConnection, this, &FakeServer::onNewConnection);
}

bool FakeServer::listen(quint16 port) {
    return server_.listen(QHostAddress::LocalHost, port);
}

void FakeServer::close() {
    server_.close();
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

void FakeServer::onReadyRead() {
    auto* socket = qobject_cast<QTcpSocket*>(sender());
    if (socket == nullptr) {
        return;
    }
    buffer_.append(socket->readAll());
    while (buffer_.size() >= 12) {
        const QByteArray request = buffer_.left(12);
        buffer_.remove(0, 12);
        requests.append(request);
        if (!answer) {
            continue;
        }
        if (hangUps > 0) {
            --hangUps;
            buffer_.clear();
            socket->disconnectFromHost();
            return;
        }
        const int tid =
            (static_cast<unsigned char>(request[0]) << 8) | static_cast<unsigned char>(request[1]);
        const int function = static_cast<unsigned char>(request[7]);
        const int a = (static_cast<unsigned char>(request[8]) << 8) | static_cast<unsigned char>(request[9]);
        const int b =
            (static_cast<unsigned char>(request[10]) << 8) | static_cast<unsigned char>(request[11]);
        if (function == 3) {
            QList<int> values;
            for (int i = 0; i < b; ++i) {
                values.append(registers.value(a + i, 0));
            }
            QByteArray response = ReadResponse(tid, values);
            if (halfAnswers > 0) {
                --halfAnswers;
                response = response.left(response.size() / 2);
            }
            socket->write(response);
        } else if (function == 6) {
            registers[a] = b;
            socket->write(request);
        }
    }
}

#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

// A Modbus TCP server on loopback for tests: answers reads of holding registers from its
// register image and echoes single-register writes, or stays silent when told to.
class FakeServer : public QObject {
    Q_OBJECT
public:
    explicit FakeServer(QObject* parent = nullptr);

    bool listen(quint16 port = 0);
    quint16 port() const { return server_.serverPort(); }
    void close();

    // Register values by address; registers not set read 0.
    QMap<int, int> registers;
    // When false, requests are recorded but never answered.
    bool answer = true;
    // The next this many requests get only the first half of their answer.
    int halfAnswers = 0;
    // The next this many requests are not answered: the server hangs up instead.
    int hangUps = 0;

    // Every 12-byte request received, in order, across connections.
    QList<QByteArray> requests;
    int connections = 0;
    QTcpSocket* client() const { return client_; }

    // Sends raw bytes to the connected client.
    void send(const QByteArray& bytes);

private:
    void onNewConnection();
    void onReadyRead();

    QTcpServer server_;
    QPointer<QTcpSocket> client_;
    QByteArray buffer_;
};

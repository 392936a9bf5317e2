#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

// A Modbus TCP server on loopback for tests: answers reads of holding registers from its
// register image and echoes single-register writes, or stays silent when told to. A script of
// faults, one per request, makes it misbehave the ways a real installation does.
class FakeServer : public QObject {
    Q_OBJECT
public:
    enum class Fault {
        Normal,        // the true answer
        Half,          // the first half of the answer, the rest never
        HangUp,        // no answer: the server hangs up
        Bytewise,      // the answer one byte at a time, byteDelayMs apart
        Glued,         // the answer and the answer to the read that follows it, in one segment
        Garbage,       // bytes that are no Modbus frame at all
        Exception,     // a Modbus exception (illegal data address)
        CloseMidFrame, // the first half of the answer, then the server hangs up
        Silent,        // no answer, the connection stays open
        Reset,         // no answer: the connection is reset (RST)
        Trailing,      // the answer and two bytes more, as a gateway passing a serial checksum on
        ShortLength,   // the answer with a length field one too small
        ProtocolOne,   // the answer with protocol identifier 1
        Doubled,       // the answer twice in one segment
        WrongEcho,     // a write's echo with a value one higher, the register left as it was
    };

    explicit FakeServer(QObject* parent = nullptr);

    bool listen(quint16 port = 0);
    quint16 port() const { return port_; }
    // Stops listening (further connects are refused) and drops the client.
    void close();

    // Register values by address; registers not set read 0.
    QMap<int, int> registers;
    // When false, requests are recorded but never answered.
    bool answer = true;
    // How the next requests are met, first entry first; an empty script answers normally.
    QList<Fault> script;
    int byteDelayMs = 2;

    // Every 12-byte request received, in order, across connections.
    QList<QByteArray> requests;
    int connections = 0;
    // The single-register writes among them, "register=value".
    QStringList writes() const;
    // Reads answered in full (a Bytewise answer counts once its last byte is out).
    int answered = 0;
    QTcpSocket* client() const { return client_; }
    // True while a Bytewise answer is still going out.
    bool dripping() const { return dripTimer_.isActive(); }

    // Sends raw bytes to the connected client.
    void send(const QByteArray& bytes);
    // The true answer to a request.
    QByteArray Answer(const QByteArray& request);

private:
    void onNewConnection();
    void onReadyRead();
    void Meet(QTcpSocket* socket, const QByteArray& request, Fault fault);
    void Drip();

    QTcpServer server_;
    QPointer<QTcpSocket> client_;
    QByteArray buffer_;
    QByteArray drip_;
    QTimer dripTimer_;
    quint16 port_ = 0;
};

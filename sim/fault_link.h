#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

// Sits between the clients and the Modbus server and spoils answers on purpose, so that a client
// can be watched riding out a bad link. Every third answer is spoilt, so that with two reads a
// poll cycle whole cycles still get through ("split" spoils every answer). "away" drops every
// connection and stops listening for N seconds, then comes back for N seconds. "trail" sends the
// serial checksum after every answer, as a gateway that passes it on does.
class FaultLink : public QObject {
    Q_OBJECT
public:
    enum class Kind { Split, Glue, Silent, Close, Garbage, Away, Trail };

    // Reads "split", "glue", "silent", "close", "garbage", "trail", "away" or "away:N".
    static bool Parse(const QString& text, Kind* kind, int* awaySeconds);

    FaultLink(Kind kind, int awaySeconds, quint16 serverPort, QObject* parent = nullptr);
    bool listen(quint16 port);
    quint16 port() const { return listener_.serverPort(); }

private:
    struct Pair;
    void accept();
    void answer(Pair* pair, const QByteArray& frame);
    void goAwayOrBack();

    Kind kind_;
    int awaySeconds_;
    quint16 serverPort_;
    quint16 port_ = 0;
    QTcpServer listener_;
    int answers_ = 0;
    quint32 noise_ = 12345;
};

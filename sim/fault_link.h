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
// serial checksum after every answer, as a gateway that passes it on does. "busy-writes" answers
// the first two tries of each write with exception 6 (busy), as a device that is settling does;
// "slow:S" holds every answer back for S seconds. "counter-glitch:N" reads the PV charge lifetime
// counter as 0 in every Nth answer of the counters' block (default 20), as one bad read does.
class FaultLink : public QObject {
    Q_OBJECT
public:
    enum class Kind { Split, Glue, Silent, Close, Garbage, Away, Trail, BusyWrites, Slow, CounterGlitch };

    // Reads "split", "glue", "silent", "close", "garbage", "trail", "busy-writes", "away", "away:N",
    // "slow:S" or "counter-glitch[:N]"; *seconds is N or S.
    static bool Parse(const QString& text, Kind* kind, double* seconds);

    FaultLink(Kind kind, double seconds, quint16 serverPort, QObject* parent = nullptr);
    bool listen(quint16 port);
    quint16 port() const { return listener_.serverPort(); }

private:
    struct Pair;
    void accept();
    void request(Pair* pair);
    void answer(Pair* pair, const QByteArray& frame);
    void goAwayOrBack();

    Kind kind_;
    double seconds_;
    // Tries of the write being refused as busy: its request bytes after the transaction id.
    QByteArray busyWrite_;
    int busyTries_ = 0;
    quint16 serverPort_;
    quint16 port_ = 0;
    QTcpServer listener_;
    int answers_ = 0;
    int counterAnswers_ = 0;
    quint32 noise_ = 12345;
};

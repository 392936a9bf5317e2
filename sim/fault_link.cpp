#include "fault_link.h"

#include <QHostAddress>
#include <QTimer>

#include <cmath>
#include <cstdio>

// One client and its own connection to the server; gone when either side closes.
struct FaultLink::Pair : QObject {
    QPointer<QTcpSocket> client;
    QTcpSocket server;
    QByteArray pending;  // server bytes not yet a whole answer
    QByteArray requests; // client bytes not yet a whole request
};

namespace {
// The length of the Modbus TCP frame at the start of bytes, or 0 while its header is incomplete.
int FrameLength(const QByteArray& bytes) {
    return bytes.size() < 6 ? 0 : (quint8(bytes[4]) << 8 | quint8(bytes[5])) + 6;
}
} // namespace

bool FaultLink::Parse(const QString& text, Kind* kind, double* seconds) {
    const QStringList parts = text.split(QLatin1Char(':'));
    const QString& name = parts.first();
    *seconds = 10;
    if ((name == QLatin1String("away") || name == QLatin1String("slow")) && parts.size() == 2) {
        bool ok = false;
        *seconds = parts[1].toDouble(&ok);
        *kind = name == QLatin1String("away") ? Kind::Away : Kind::Slow;
        return ok && *seconds > 0 && (*kind == Kind::Slow || *seconds == std::floor(*seconds));
    }
    if (name == QLatin1String("counter-glitch") && parts.size() <= 2) {
        bool ok = true;
        *seconds = parts.size() == 2 ? parts[1].toInt(&ok) : 20;
        *kind = Kind::CounterGlitch;
        return ok && *seconds >= 1;
    }
    if (name == QLatin1String("slow")) {
        return false;
    }
    if (parts.size() != 1) {
        return false;
    }
    const struct {
        const char* name;
        Kind kind;
    } kinds[] = {{"split", Kind::Split},     {"glue", Kind::Glue},
                 {"silent", Kind::Silent},   {"close", Kind::Close},
                 {"garbage", Kind::Garbage}, {"away", Kind::Away},
                 {"trail", Kind::Trail},     {"busy-writes", Kind::BusyWrites}};
    for (const auto& k : kinds) {
        if (name == QLatin1String(k.name)) {
            *kind = k.kind;
            return true;
        }
    }
    return false;
}

FaultLink::FaultLink(Kind kind, double seconds, quint16 serverPort, QObject* parent)
    : QObject(parent), kind_(kind), seconds_(seconds), serverPort_(serverPort) {
    connect(&listener_, &QTcpServer::newConnection, this, &FaultLink::accept);
}

bool FaultLink::listen(quint16 port) {
    if (!listener_.listen(QHostAddress::LocalHost, port)) {
        return false;
    }
    port_ = listener_.serverPort();
    if (kind_ == Kind::Away) {
        QTimer::singleShot(static_cast<int>(seconds_ * 1000), this, &FaultLink::goAwayOrBack);
    }
    return true;
}

void FaultLink::goAwayOrBack() {
    if (listener_.isListening()) {
        std::printf("fault: away for %g s\n", seconds_);
        listener_.close();
        for (QTcpSocket* client : findChildren<QTcpSocket*>()) {
            client->abort();
        }
    } else {
        listener_.listen(QHostAddress::LocalHost, port_);
        std::printf("fault: back\n");
    }
    std::fflush(stdout);
    QTimer::singleShot(static_cast<int>(seconds_ * 1000), this, &FaultLink::goAwayOrBack);
}

void FaultLink::accept() {
    while (QTcpSocket* client = listener_.nextPendingConnection()) {
        auto* pair = new Pair;
        pair->setParent(this);
        pair->client = client;
        client->setParent(pair);
        client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        pair->server.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        pair->server.connectToHost(QHostAddress::LocalHost, serverPort_);
        connect(client, &QTcpSocket::readyRead, pair, [this, pair] { request(pair); });
        connect(&pair->server, &QTcpSocket::readyRead, pair, [this, pair] {
            pair->pending += pair->server.readAll();
            while (pair->pending.size() >= 6) {
                const int length = FrameLength(pair->pending);
                if (pair->pending.size() < length) {
                    break;
                }
                const QByteArray frame = pair->pending.left(length);
                pair->pending.remove(0, length);
                answer(pair, frame);
            }
        });
        connect(client, &QTcpSocket::disconnected, pair, &QObject::deleteLater);
        connect(&pair->server, &QTcpSocket::disconnected, pair, [pair] {
            if (pair->client) {
                pair->client->disconnectFromHost();
            }
        });
    }
}

void FaultLink::request(Pair* pair) {
    // Requests go through untouched, but for a write refused as busy; they queue until the server
    // connection is up.
    pair->requests += pair->client->readAll();
    for (int length = FrameLength(pair->requests); length > 0 && pair->requests.size() >= length;
         length = FrameLength(pair->requests)) {
        const QByteArray frame = pair->requests.left(length);
        pair->requests.remove(0, length);
        const bool write = frame.size() >= 8 && quint8(frame[7]) == 6;
        if (kind_ == Kind::BusyWrites && write) {
            if (frame.mid(2) != busyWrite_) {
                busyWrite_ = frame.mid(2);
                busyTries_ = 0;
            }
            if (++busyTries_ <= 2) {
                QByteArray busy = frame.left(9);
                busy[5] = 3;
                busy[7] = char(0x86);
                busy[8] = 6;
                std::printf("fault: write %u %u busy\n", quint8(frame[8]) << 8 | quint8(frame[9]),
                            quint8(frame[10]) << 8 | quint8(frame[11]));
                std::fflush(stdout);
                answer(pair, busy);
                continue;
            }
            busyWrite_.clear();
        }
        pair->server.write(frame);
    }
}

void FaultLink::answer(Pair* pair, const QByteArray& frame) {
    QTcpSocket* client = pair->client;
    if (client == nullptr) {
        return;
    }
    if (kind_ == Kind::Slow) {
        QTimer::singleShot(static_cast<int>(seconds_ * 1000), client,
                           [client, frame] { client->write(frame); });
        return;
    }
    if (kind_ == Kind::BusyWrites) {
        client->write(frame);
        return;
    }
    // The 24 registers from 60166 (48 bytes): the PV charge lifetime counter is their first four.
    if (kind_ == Kind::CounterGlitch) {
        QByteArray glitched = frame;
        if (frame.size() == 9 + 48 && quint8(frame[7]) == 3 && quint8(frame[8]) == 48 &&
            ++counterAnswers_ % static_cast<int>(seconds_) == 0) {
            glitched.replace(9, 8, QByteArray(8, '\0'));
            std::printf("fault: PV charge lifetime counter read as 0\n");
            std::fflush(stdout);
        }
        client->write(glitched);
        return;
    }
    const bool spoil = kind_ == Kind::Split || kind_ == Kind::Trail || (++answers_ % 3) == 0;
    if (!spoil || kind_ == Kind::Away) {
        client->write(frame);
        return;
    }
    switch (kind_) {
    case Kind::Split:
        // One byte per event-loop turn, so each leaves in a segment of its own.
        for (int i = 0; i < frame.size(); ++i) {
            QTimer::singleShot(2 * i, client, [client, byte = frame.mid(i, 1)] { client->write(byte); });
        }
        break;
    case Kind::Glue:
        client->write(frame + frame);
        break;
    case Kind::Silent:
        break;
    case Kind::Close:
        client->write(frame.left(frame.size() / 2));
        client->flush();
        client->disconnectFromHost();
        break;
    case Kind::Garbage: {
        QByteArray noise(frame.size(), '\0');
        for (char& c : noise) {
            noise_ = noise_ * 1103515245u + 12345u;
            c = static_cast<char>(noise_ >> 16);
        }
        client->write(noise);
        break;
    }
    case Kind::Trail: {
        // Modbus RTU's CRC-16 over the unit identifier and the PDU, low byte first.
        quint16 crc = 0xFFFF;
        for (const char c : frame.mid(6)) {
            crc ^= quint8(c);
            for (int bit = 0; bit < 8; ++bit) {
                crc = (crc & 1) != 0 ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
            }
        }
        client->write(frame + QByteArray{char(crc & 0xFF), char(crc >> 8)});
        break;
    }
    case Kind::Away:
    case Kind::BusyWrites:
    case Kind::CounterGlitch:
    case Kind::Slow:
        break;
    }
}

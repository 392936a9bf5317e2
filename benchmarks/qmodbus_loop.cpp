// Qt's own Modbus client doing a poll cycle's two reads back to back, each sent from the previous
// reply's finished(), until the server closes.   qmodbus_loop PORT
#include <QCoreApplication>
#include <QModbusDataUnit>
#include <QModbusReply>
#include <QModbusTcpClient>
#include <QVariant>

#include <cstdio>
#include <cstdlib>

namespace {

void Read(QModbusTcpClient& client, bool blockA) {
    const QModbusDataUnit unit(QModbusDataUnit::HoldingRegisters, blockA ? 60000 : 60166,
                               blockA ? quint16(96) : quint16(24));
    QModbusReply* reply = client.sendReadRequest(unit, 1);
    if (reply == nullptr) {
        QCoreApplication::exit(0);
        return;
    }
    QObject::connect(reply, &QModbusReply::finished, &client, [&client, reply, blockA] {
        reply->deleteLater();
        if (reply->error() != QModbusDevice::NoError) {
            QCoreApplication::exit(0);
            return;
        }
        Read(client, !blockA);
    });
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: qmodbus_loop PORT\n");
        return 2;
    }
    QModbusTcpClient client;
    client.setConnectionParameter(QModbusDevice::NetworkAddressParameter, QStringLiteral("127.0.0.1"));
    client.setConnectionParameter(QModbusDevice::NetworkPortParameter, std::atoi(argv[1]));
    client.setNumberOfRetries(0);
    QObject::connect(&client, &QModbusDevice::stateChanged, &client, [&client](QModbusDevice::State s) {
        if (s == QModbusDevice::ConnectedState) {
            Read(client, true);
        } else if (s == QModbusDevice::UnconnectedState) {
            QCoreApplication::exit(0);
        }
    });
    if (!client.connectDevice()) {
        return 1;
    }
    return app.exec();
}

#include "modbus_server.h"

#include <cstdio>

SimServer::SimServer(Installation& installation, double speed, double stepSeconds, bool verbose,
                     QObject* parent)
    : QModbusTcpServer(parent), installation_(installation), speed_(speed), stepSeconds_(stepSeconds),
      verbose_(verbose) {
    setServerAddress(1);
    real_.start();
}

bool SimServer::readData(QModbusDataUnit* newData) const {
    if (newData->registerType() != QModbusDataUnit::HoldingRegisters) {
        return false;
    }
    QList<quint16> values;
    if (!installation_.read(newData->startAddress(), static_cast<int>(newData->valueCount()), &values)) {
        return false;
    }
    newData->setValues(values);
    return true;
}

bool SimServer::writeData(const QModbusDataUnit& unit) {
    if (unit.registerType() != QModbusDataUnit::HoldingRegisters) {
        return false;
    }
    for (qsizetype i = 0; i < unit.valueCount(); ++i) {
        if (!installation_.write(unit.startAddress() + static_cast<int>(i),
                                 unit.value(static_cast<int>(i)))) {
            return false;
        }
    }
    return true;
}

QModbusResponse SimServer::processRequest(const QModbusPdu& request) {
    const qint64 nowMs = real_.elapsed();
    installation_.advance((nowMs - lastRealMs_) / 1000.0 * speed_);
    lastRealMs_ = nowMs;

    quint16 address = 0;
    quint16 word = 0;
    request.decodeData(&address, &word);
    // Moved on before the answer, so that the block read next in the same cycle shows this state.
    const bool poll = request.functionCode() == QModbusPdu::ReadHoldingRegisters && address == 60000;
    if (poll) {
        installation_.advance(stepSeconds_);
    }
    const QModbusResponse response = QModbusTcpServer::processRequest(request);
    if (verbose_) {
        const char* what = request.functionCode() == QModbusPdu::ReadHoldingRegisters  ? "read"
                           : request.functionCode() == QModbusPdu::WriteSingleRegister ? "write"
                                                                                       : "function";
        const QString outcome = response.isException()
                                    ? QStringLiteral("exception %1").arg(int(response.exceptionCode()))
                                    : QStringLiteral("ok");
        std::printf("%s %s %u %u: %s (SoC %.1f %%, PV %d W, grid %d W)\n",
                    installation_.now().toString(Qt::ISODate).toLatin1().constData(), what, address, word,
                    outcome.toLatin1().constData(), installation_.stateOfCharge(), installation_.pvBatteryW(),
                    installation_.gridW());
        std::fflush(stdout);
    }
    return response;
}

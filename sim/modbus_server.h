#pragma once

#include "installation.h"

#include <QElapsedTimer>
#include <QModbusTcpServer>

// The installation behind a Qt Serial Bus Modbus TCP server. Reads and writes go straight to the
// simulation; its clock catches up with real time (times the speed) before each request, and a
// read of 60000 (the start of a poll cycle) first moves it on by a further fixed step.
class SimServer : public QModbusTcpServer {
public:
    SimServer(Installation& installation, double speed, double stepSeconds, bool verbose,
              QObject* parent = nullptr);

protected:
    bool readData(QModbusDataUnit* newData) const override;
    bool writeData(const QModbusDataUnit& unit) override;
    QModbusResponse processRequest(const QModbusPdu& request) override;

private:
    Installation& installation_;
    double speed_;
    double stepSeconds_;
    bool verbose_;
    QElapsedTimer real_;
    qint64 lastRealMs_ = 0;
};

#include "fault_link.h"
#include "installation.h"
#include "modbus_server.h"
#include "tariff.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <QTcpServer>
#include <QUrl>

#include <cstdio>

namespace {
// A free loopback port, for the parts that cannot report the port they were given.
quint16 FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

int Fail(const QString& message) {
    std::fprintf(stderr, "battery-sim: %s\n", message.toLocal8Bit().constData());
    return 2;
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("battery-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MODBUSCLIENT_SIM_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A simulated home battery installation: a Modbus TCP server on 127.0.0.1, unit 1, serving the "
        "native register map. The first line on standard output names the port it listens on."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("TCP port, 0 for any free one (default 1502)."),
                                  QStringLiteral("N"), QStringLiteral("1502"));
    const QCommandLineOption speed(QStringLiteral("speed"),
                                   QStringLiteral("Run the clock N times faster; 0 stops it (default 1)."),
                                   QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption step(QStringLiteral("step"),
                                  QStringLiteral("Move the clock on by SECONDS after each read of 60000."),
                                  QStringLiteral("SECONDS"), QStringLiteral("0"));
    const QCommandLineOption start(QStringLiteral("start"),
                                   QStringLiteral("Simulated start time, yyyy-MM-ddTHH:mm:ss (default now)."),
                                   QStringLiteral("TIME"));
    const QCommandLineOption sunspec(QStringLiteral("sunspec"),
                                     QStringLiteral("Also serve the SunSpec signature \"SunS\" at 40000."));
    const QCommandLineOption verbose(QStringLiteral("verbose"),
                                     QStringLiteral("Print one line per request."));
    const QCommandLineOption fault(
        QStringLiteral("fault"),
        QStringLiteral("Spoil answers: split (one byte at a time), glue (an answer twice in one write), "
                       "silent, close (half an answer, then hang up), garbage; every third answer. "
                       "trail: two checksum bytes after every answer. "
                       "away:N: gone for N seconds, back for N seconds. busy-writes: exception 6 "
                       "(busy) to the first two tries of each write. slow:S: every answer S seconds late. "
                       "counter-glitch:N: the PV charge lifetime counter reads 0 in every Nth cycle (20)."),
        QStringLiteral("KIND"));
    const QCommandLineOption tariff(
        QStringLiteral("tariff"),
        QStringLiteral("Write a day's prices as tariff.csv and tariff.json for the client's charge plan: "
                       "from FILE (CSV start,end,price or a JSON list), or \"auto\" for made-up "
                       "quarter-hour prices of today and tomorrow, written again after each midnight."),
        QStringLiteral("FILE"));
    const QCommandLineOption tariffFolder(
        QStringLiteral("tariff-folder"),
        QStringLiteral("Where --tariff writes (default the current folder)."), QStringLiteral("DIR"),
        QStringLiteral("."));
    parser.addOptions({port, speed, step, start, sunspec, verbose, fault, tariff, tariffFolder});
    parser.process(app);

    bool ok = false;
    const int portValue = parser.value(port).toInt(&ok);
    if (!ok || portValue < 0 || portValue > 65535) {
        return Fail(QStringLiteral("--port must be a whole number from 0 to 65535"));
    }
    const double speedValue = parser.value(speed).toDouble(&ok);
    if (!ok || speedValue < 0) {
        return Fail(QStringLiteral("--speed must be a number from 0"));
    }
    const double stepValue = parser.value(step).toDouble(&ok);
    if (!ok || stepValue < 0) {
        return Fail(QStringLiteral("--step must be a number of seconds from 0"));
    }
    QDateTime startTime = QDateTime::currentDateTime();
    if (parser.isSet(start)) {
        startTime = QDateTime::fromString(parser.value(start), Qt::ISODate);
        if (!startTime.isValid()) {
            return Fail(QStringLiteral("--start must read yyyy-MM-ddTHH:mm:ss"));
        }
    }
    FaultLink::Kind faultKind{};
    double faultSeconds = 0;
    if (parser.isSet(fault) && !FaultLink::Parse(parser.value(fault), &faultKind, &faultSeconds)) {
        return Fail(QStringLiteral("unknown --fault kind: %1").arg(parser.value(fault)));
    }

    // Before the first line on standard output, so a demo that waits for it finds the prices.
    TariffWriter prices(parser.value(tariff), parser.value(tariffFolder));
    QString error;
    if (parser.isSet(tariff) && !prices.start(&error)) {
        return Fail(error);
    }

    Installation installation(startTime, parser.isSet(sunspec));
    SimServer server(installation, speedValue, stepValue, parser.isSet(verbose));
    // The fault link takes the public port and hands requests on to the server behind it.
    const quint16 serverPort = parser.isSet(fault) || portValue == 0 ? FreePort() : quint16(portValue);
    server.setConnectionParameter(QModbusDevice::NetworkAddressParameter, QStringLiteral("127.0.0.1"));
    server.setConnectionParameter(QModbusDevice::NetworkPortParameter, serverPort);
    if (!server.connectDevice()) {
        return Fail(QStringLiteral("cannot listen on port %1: %2").arg(serverPort).arg(server.errorString()));
    }
    FaultLink* link = nullptr;
    quint16 publicPort = serverPort;
    if (parser.isSet(fault)) {
        link = new FaultLink(faultKind, faultSeconds, serverPort, &app);
        if (!link->listen(quint16(portValue))) {
            return Fail(QStringLiteral("cannot listen on port %1").arg(portValue));
        }
        publicPort = link->port();
    }
    std::printf("battery-sim listening on 127.0.0.1:%u\n", publicPort);
    std::fflush(stdout);
    return QCoreApplication::exec();
}

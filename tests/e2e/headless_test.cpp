#include "common/test_support.h"
#include "e2e/e2e_support.h"
#include "installation.h"

#include <QFile>
#include <QTcpSocket>

namespace {
class Headless : public InTempDir {
protected:
    void SetUp() override {
        InTempDir::SetUp();
        // Line 3 names the registers file, which is off by default.
        WriteAll(path(QStringLiteral("ModbusClient.ini")), "\r\n\r\nregisters.txt\r\nBatterySoC.log\r\n");
    }

    QStringList client(quint16 port) const {
        return {QStringLiteral("--headless"), QStringLiteral("--connect"), QStringLiteral("--poll"),
                QStringLiteral("0.8"),        QStringLiteral("--port"),    QString::number(port),
                QStringLiteral("127.0.0.1")};
    }

    // Both files show this cycle at once: the poll rate leaves a quiet spell between cycles.
    bool filesShow(const Image& image) const {
        const QStringList battery = CrLfLines(path(QStringLiteral("Battery.txt")));
        return battery.size() == 16 && battery.mid(0, 15) == ExpectedBatteryLines(image) &&
               battery[15].startsWith(QStringLiteral("Date = ")) &&
               CrLfLines(path(QStringLiteral("registers.txt"))) == ExpectedRegisterLines(image);
    }
};
} // namespace

TEST_F(Headless, EveryCycleWritesWhatTheSimulatorServed) {
    // A stopped clock that moves an hour per poll, from late afternoon into the night, so the
    // battery turns from charging to discharging and every cycle is known in advance.
    const QDateTime start(QDate(2026, 6, 21), QTime(16, 0));
    Program sim(QStringLiteral(E2E_SIM),
                {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--speed"),
                 QStringLiteral("0"), QStringLiteral("--step"), QStringLiteral("3600"),
                 QStringLiteral("--start"), start.toString(Qt::ISODate)});
    const quint16 port = sim.listeningPort();
    ASSERT_NE(port, 0);

    Installation model(start);
    QList<Image> cycles;
    Program client(QStringLiteral(E2E_CLIENT), this->client(port), QDir::currentPath());
    for (int cycle = 1; cycle <= 4; ++cycle) {
        model.advance(3600);
        cycles.append(PolledImage(model));
        ASSERT_TRUE(WaitUntil([&] { return filesShow(cycles.last()); }, 8000))
            << "cycle " << cycle << ":\n"
            << Text(CrLfLines(path(QStringLiteral("Battery.txt"))));
    }
    EXPECT_NE(cycles.first().value(60071), cycles.last().value(60071));
    EXPECT_EQ(client.stop(), 0);
    const int started = client.countLines(QStringLiteral("Polled 95 registers at "));
    ASSERT_GE(started, 4);
    while (cycles.size() < started) {
        model.advance(3600);
        cycles.append(PolledImage(model));
    }
    EXPECT_EQ(Text(LastWords(CrLfLines(path(QStringLiteral("BatterySoC.log"))))),
              Text(ExpectedSocValues(cycles)));
}

TEST_F(Headless, AnIndependentServersImageGivesTheseExactLines) {
    const QString imageFile = QStringLiteral(E2E_DATA "/fixed_image.txt");
    const quint16 port = FreePort();
    Program server(QStringLiteral(E2E_PYTHON),
                   {QStringLiteral(E2E_DATA "/pymodbus_server.py"), imageFile, QString::number(port)});
    ASSERT_TRUE(WaitUntil(
        [&] {
            QTcpSocket probe;
            probe.connectToHost(QStringLiteral("127.0.0.1"), port);
            return probe.waitForConnected(200);
        },
        15000))
        << "pymodbus server did not start";

    const Image image = ReadImage(imageFile);
    Program client(QStringLiteral(E2E_CLIENT), this->client(port), QDir::currentPath());
    ASSERT_TRUE(
        WaitUntil([&] { return client.countLines(QStringLiteral("Polled 24 registers at ")) >= 2; }, 10000));
    EXPECT_EQ(client.stop(), 0);

    QStringList battery = CrLfLines(path(QStringLiteral("Battery.txt")));
    ASSERT_EQ(battery.size(), 16);
    EXPECT_TRUE(battery.takeLast().startsWith(QStringLiteral("Date = ")));
    EXPECT_EQ(Text(battery), Text(ExpectedBatteryLines(image)));
    const QStringList registers = CrLfLines(path(QStringLiteral("registers.txt")));
    EXPECT_EQ(registers.size(), 121);
    EXPECT_EQ(Text(registers), Text(ExpectedRegisterLines(image)));
    // The charge stayed put, so the log has its one line.
    EXPECT_EQ(Text(LastWords(CrLfLines(path(QStringLiteral("BatterySoC.log"))))),
              Text(ExpectedSocValues({image})));
}

TEST_F(Headless, TheDemoKeepsItsFilesApartAndStopsTheSimulatorOnExit) {
    Program demo(QStringLiteral(E2E_CLIENT), {QStringLiteral("--demo"), QStringLiteral("--headless")},
                 QDir::currentPath());
    const QString battery = path(QStringLiteral("modbusclient-demo/Battery.txt"));
    ASSERT_TRUE(WaitUntil([&] { return CrLfLines(battery).size() == 16; }, 10000));
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("Battery.txt"))));
    // A plan from the simulator's prices: today's and tomorrow's quarter hours.
    EXPECT_TRUE(ReadAll(path(QStringLiteral("modbusclient-demo/demo.conf"))).contains("plan = cheapest"));
    EXPECT_GE(ReadAll(path(QStringLiteral("modbusclient-demo/tariff.csv"))).count('\n'), 1 + 2 * 92);
    const QString connected = demo.lines().value(0);
    ASSERT_TRUE(connected.startsWith(QStringLiteral("Connected to server at 127.0.0.1:")))
        << connected.toStdString();
    // Each cycle rewrites the file: its "Date = " line moves on within a poll or two.
    const QString first = CrLfLines(battery).value(15);
    EXPECT_TRUE(WaitUntil([&] { return CrLfLines(battery).value(15) != first; }, 6000));
    EXPECT_EQ(demo.stop(), 0);

    QTcpSocket probe;
    probe.connectToHost(QStringLiteral("127.0.0.1"), connected.section(QLatin1Char(':'), -1).toUShort());
    EXPECT_FALSE(probe.waitForConnected(1000)) << "the simulator outlived the client";
}

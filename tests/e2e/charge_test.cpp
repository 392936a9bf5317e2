#include "common/test_support.h"
#include "e2e/e2e_support.h"

#include <QTime>

#include <signal.h>

namespace {
class ChargeEnd : public InTempDir {
protected:
    // battery-sim with its answers spoilt as fault says (none when empty), one line a request.
    quint16 StartSim(const QString& fault = QString()) {
        QStringList arguments{QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--verbose")};
        if (!fault.isEmpty()) {
            arguments << QStringLiteral("--fault") << fault;
        }
        sim = std::make_unique<Program>(QStringLiteral(E2E_SIM), arguments);
        return sim->listeningPort();
    }
    // A settings file of another name, as the service names it, with a window around now.
    QString Conf(quint16 port) {
        const QTime now = QTime::currentTime();
        const QString window = now.addSecs(-60).toString(QStringLiteral("HH:mm")) + QLatin1Char('-') +
                               now.addSecs(1800).toString(QStringLiteral("HH:mm"));
        const QString conf = path(QStringLiteral("garage.conf"));
        WriteAll(conf, ("address = 127.0.0.1\nport = " + QString::number(port) +
                        "\n[charge]\nwindow = " + window + "\npower = 1.5\n")
                           .toUtf8());
        return conf;
    }
    std::unique_ptr<Program> Client(const QStringList& more) {
        return std::make_unique<Program>(QStringLiteral(E2E_CLIENT),
                                         QStringList{QStringLiteral("--headless")} + more,
                                         QDir::currentPath());
    }
    // The requests the simulator saw: "write 60310 0", "read 60000 96" ...
    QStringList Requests() {
        QStringList requests;
        for (const QString& line : sim->lines()) {
            const QString what = line.section(QLatin1Char(' '), 1, 3).remove(QLatin1Char(':'));
            if (what.startsWith(QLatin1String("write")) || what.startsWith(QLatin1String("read"))) {
                requests << what;
            }
        }
        return requests;
    }
    QStringList Writes() { return Requests().filter(QStringLiteral("write")); }
    static QStringList Command(int watts) {
        return {QStringLiteral("write 60310 0"), QStringLiteral("write 60314 %1").arg(watts)};
    }
    static QString LastLogLine() {
        const QStringList lines = CrLfLines(QStringLiteral("ModbusClient control.log"));
        return lines.isEmpty() ? QString() : lines.last();
    }

    std::unique_ptr<Program> sim;
};
} // namespace

// SIGTERM against a device that answers every request 0.7 s late: polling stops, the 0 W goes out
// as two writes with nothing between them, and the client exits once it reads back 0 W.
TEST_F(ChargeEnd, StoppingTheClientAgainstASlowDeviceLeavesZeroWattsReadBack) {
    const quint16 port = StartSim(QStringLiteral("slow:0.7"));
    ASSERT_NE(port, 0);
    const auto client = Client({QStringLiteral("--connect"), QStringLiteral("--poll"), QStringLiteral("1"),
                                QStringLiteral("--config"), Conf(port)});
    ASSERT_TRUE(WaitUntil([&] { return Writes().size() == 2; }, 15000));
    EXPECT_EQ(Writes(), Command(1500));
    ASSERT_TRUE(WaitUntil([&] { return LastLogLine().contains(QStringLiteral(", window, start, ")); }, 5000));
    EXPECT_EQ(client->signal(SIGHUP), 0); // a closed terminal ends it like SIGTERM
    ASSERT_TRUE(WaitUntil([&] { return Requests().endsWith(QStringLiteral("read 60310 5")); }));
    const QStringList requests = Requests();
    const qsizetype end = requests.lastIndexOf(QStringLiteral("write 60310 0"));
    ASSERT_GT(end, 1);
    EXPECT_EQ(requests.mid(end), Command(0) + QStringList{QStringLiteral("read 60310 5")});
    EXPECT_TRUE(LastLogLine().endsWith(QStringLiteral(", window, end, 0 kW, no target, program stops")))
        << LastLogLine().toStdString();
}

// SIGKILL during a charge leaves the state file saying so; --end-charge --if-charging, as the
// service runs it after any stop, ends it and says so, and does nothing once it has.
TEST_F(ChargeEnd, AfterAKillTheEndChargeCommandEndsWhatWasLeft) {
    const quint16 port = StartSim();
    ASSERT_NE(port, 0);
    const QString conf = Conf(port);
    auto client = Client({QStringLiteral("--connect"), QStringLiteral("--config"), conf});
    ASSERT_TRUE(WaitUntil([&] { return Writes().size() == 2; }, 10000));
    ASSERT_TRUE(WaitUntil([&] { return LastLogLine().contains(QStringLiteral(", window, start, ")); }, 5000));
    EXPECT_EQ(client->signal(SIGKILL), -1);
    EXPECT_EQ(Writes(), Command(1500));

    const QStringList endCharge{QStringLiteral("--end-charge"), QStringLiteral("--if-charging"),
                                QStringLiteral("--config"), conf};
    EXPECT_EQ(Client(endCharge)->wait(15000), 0);
    ASSERT_TRUE(WaitUntil([&] { return Writes().size() == 4; }));
    EXPECT_EQ(Writes(), Command(1500) + Command(0));
    EXPECT_TRUE(
        LastLogLine().endsWith(QStringLiteral(", end-charge, end, 0 kW, no target, asked by --end-charge")))
        << LastLogLine().toStdString();
    EXPECT_EQ(Client(endCharge)->wait(15000), 0);
    EXPECT_EQ(Writes().size(), 4);

    // A restart inside the window whose night already ran does not start it again.
    const auto polls = [&] { return Requests().count(QStringLiteral("read 60000 96")); };
    const qsizetype before = polls();
    client = Client({QStringLiteral("--connect"), QStringLiteral("--poll"), QStringLiteral("0.2"),
                     QStringLiteral("--config"), conf});
    ASSERT_TRUE(WaitUntil([&] { return polls() >= before + 3; }, 10000));
    EXPECT_EQ(client->stop(), 0);
    EXPECT_EQ(Writes().size(), 4);
}

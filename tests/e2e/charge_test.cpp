#include "common/test_support.h"
#include "e2e/e2e_support.h"

#include <QTime>

// SIGTERM during a managed charge: the 0 W end reaches the installation before the client exits.
TEST_F(InTempDir, StoppingTheClientDuringAManagedChargeLeavesZeroWattsWritten) {
    Program sim(QStringLiteral(E2E_SIM),
                {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--verbose")});
    const quint16 port = sim.listeningPort();
    ASSERT_NE(port, 0);
    const QTime now = QTime::currentTime();
    const QString window = now.addSecs(-60).toString(QStringLiteral("HH:mm")) + QLatin1Char('-') +
                           now.addSecs(1800).toString(QStringLiteral("HH:mm"));
    WriteAll(path(QStringLiteral("modbusclient.conf")),
             ("[charge]\nwindow = " + window + "\npower = 1.5\n").toUtf8());
    Program client(QStringLiteral(E2E_CLIENT),
                   {QStringLiteral("--headless"), QStringLiteral("--connect"), QStringLiteral("--port"),
                    QString::number(port), QStringLiteral("127.0.0.1")},
                   QDir::currentPath());
    const auto writes = [&sim] {
        QStringList w;
        for (const QString& line : sim.lines()) {
            if (line.contains(QStringLiteral(" write "))) {
                w << line.section(QLatin1Char(' '), 2, 3).remove(QLatin1Char(':'));
            }
        }
        return w;
    };
    ASSERT_TRUE(WaitUntil([&] { return writes().size() == 2; }, 10000));
    EXPECT_EQ(writes(), QStringList({QStringLiteral("60310 0"), QStringLiteral("60314 1500")}));
    EXPECT_EQ(client.stop(), 0);
    ASSERT_TRUE(WaitUntil([&] { return writes().size() == 4; }, 3000));
    EXPECT_EQ(writes().mid(2), QStringList({QStringLiteral("60310 0"), QStringLiteral("60314 0")}));
    EXPECT_TRUE(CrLfLines(QStringLiteral("ModbusClient control.log"))
                    .value(1)
                    .endsWith(QStringLiteral("program stops")));
}

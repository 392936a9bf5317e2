#include "common/test_support.h"
#include "e2e/e2e_support.h"
#include "energy/battery_file.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>

#include <memory>
#include <unistd.h>

// A power cut while the client polls fast: its folder is on a small ext4 image on a loop device,
// and the image is copied at random moments, which is what the disk held had the power gone then.
// Each copy is mounted (replaying its journal, as the next boot would) and must hold a whole state
// file; after the next start every log ends in a whole line.
namespace {

// A command line whose words hold no blanks; false, and what it said, when it fails.
bool RunTool(const QString& command, QString* error) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    const QStringList words = command.split(QLatin1Char(' '));
    process.start(words.first(), words.mid(1));
    const bool ok = process.waitForFinished(20000) && process.exitStatus() == QProcess::NormalExit &&
                    process.exitCode() == 0;
    *error = command + QStringLiteral(": ") + QString::fromLocal8Bit(process.readAll());
    return ok;
}

class PowerCut : public InTempDir {
protected:
    void TearDown() override {
        for (const QString& folder : mounted_) {
            RunTool(QStringLiteral("umount ") + folder, &why);
        }
        InTempDir::TearDown();
    }
    bool Mount(const QString& image, const QString& folder) {
        const bool ok =
            QDir().mkpath(folder) && RunTool(QStringLiteral("mount -o loop %1 %2").arg(image, folder), &why);
        if (ok) {
            mounted_.prepend(folder);
        }
        return ok;
    }
    // A client started in folder, after its third cycle (its start-up repairs the logs before the first).
    static Program* Client(quint16 port, const QString& folder) {
        auto* client = new Program(QStringLiteral(E2E_CLIENT),
                                   QStringLiteral("--headless --connect --poll 0.05 --port %1 127.0.0.1")
                                       .arg(port)
                                       .split(QLatin1Char(' ')),
                                   folder);
        EXPECT_TRUE(
            WaitUntil([&] { return client->countLines(QStringLiteral("Polled 24 registers")) >= 3; }, 10000));
        return client;
    }

    QString why;
    QStringList mounted_;
};

} // namespace

TEST_F(PowerCut, EveryCopyOfTheDiskHoldsAWholeStateFileAndWholeLogsAfterTheNextStart) {
    const QString disk = path(QStringLiteral("disk.img"));
    const QString live = path(QStringLiteral("live"));
    QFile image(disk);
    if (::geteuid() != 0 || !image.open(QIODevice::WriteOnly) || !image.resize(32 << 20) ||
        !RunTool(QStringLiteral("mkfs.ext4 -q -F ") + disk, &why) || !Mount(disk, live)) {
        GTEST_SKIP() << "loop devices may not be used here (root, mkfs.ext4 and mount -o loop are needed), "
                        "so no power cut is simulated: "
                     << why.toStdString();
    }
    // The state of charge moves every poll, so the log grows all the time.
    Program sim(QStringLiteral(E2E_SIM),
                {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--speed"),
                 QStringLiteral("0"), QStringLiteral("--step"), QStringLiteral("900")});
    const quint16 port = sim.listeningPort();
    ASSERT_NE(port, 0);
    WriteAll(live + QStringLiteral("/ModbusClient.ini"), "\r\n\r\n\r\nBatterySoC.log\r\n");
    std::unique_ptr<Program> client(Client(port, live));
    QRandomGenerator random(20261210);
    const QString copy = path(QStringLiteral("copy.img"));
    const QString folder = path(QStringLiteral("copy"));
    for (int cut = 1; cut <= 8; ++cut) {
        SCOPED_TRACE(cut);
        QTest::qWait(static_cast<int>(random.bounded(150, 900)));
        QFile::remove(copy);
        ASSERT_TRUE(RunTool(QStringLiteral("cp %1 %2").arg(disk, copy), &why) && Mount(copy, folder))
            << why.toStdString();
        const QByteArray state = ReadAll(folder + QStringLiteral("/Battery.txt"));
        QStringList lines;
        EXPECT_TRUE(ParseBatteryFile(state, &lines) && state.endsWith("\r\n")) << state.toStdString();
        delete Client(port, folder);
        for (const char* log : {"/BatterySoC.log", "/ModbusClient errors.log"}) {
            const QByteArray bytes = ReadAll(folder + QLatin1String(log));
            EXPECT_TRUE(bytes.isEmpty() || (bytes.endsWith('\n') && !bytes.contains('\0'))) << log;
        }
        ASSERT_TRUE(RunTool(QStringLiteral("umount ") + folder, &why) && mounted_.removeAll(folder))
            << why.toStdString();
    }
    EXPECT_EQ(client->stop(), 0);
    EXPECT_GT(ReadAll(live + QStringLiteral("/BatterySoC.log")).count('\n'), 10);
}

#include "common/test_support.h"
#include "e2e/e2e_support.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>

#include <unistd.h>

// A power cut while the client polls fast: its working folder is on a small ext4 image on a
// loop device, and the image is copied at random moments, which is what the disk held had the
// power gone then. Each copy is mounted (replaying its journal, as the next boot would) and must
// hold a whole state file; after the next start every log ends in a whole line.
namespace {

bool RunTool(const QString& program, const QStringList& arguments, QString* error = nullptr) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool ok = process.waitForFinished(20000) && process.exitStatus() == QProcess::NormalExit &&
                    process.exitCode() == 0;
    if (!ok && error != nullptr) {
        *error = program + QLatin1Char(' ') + arguments.join(QLatin1Char(' ')) + QStringLiteral(": ") +
                 QString::fromLocal8Bit(process.readAll()).trimmed();
    }
    return ok;
}

class PowerCut : public InTempDir {
protected:
    void TearDown() override {
        for (auto it = mounted_.rbegin(); it != mounted_.rend(); ++it) {
            RunTool(QStringLiteral("umount"), {*it});
        }
        InTempDir::TearDown();
    }

    // An empty ext4 file system in image, mounted on folder; false (and why) where loop devices
    // may not be used.
    bool MountNew(const QString& image, const QString& folder, QString* why) {
        QFile file(image);
        if (::geteuid() != 0 || !file.open(QIODevice::WriteOnly) || !file.resize(32 << 20)) {
            *why = QStringLiteral("needs root and room for a 32 MB image");
            return false;
        }
        file.close();
        return RunTool(QStringLiteral("mkfs.ext4"), {QStringLiteral("-q"), QStringLiteral("-F"), image},
                       why) &&
               Mount(image, folder, why);
    }
    bool Mount(const QString& image, const QString& folder, QString* why) {
        if (!QDir().mkpath(folder) ||
            !RunTool(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("loop"), image, folder},
                     why)) {
            return false;
        }
        mounted_.append(folder);
        return true;
    }
    void Unmount(const QString& folder) {
        EXPECT_TRUE(RunTool(QStringLiteral("umount"), {folder}));
        mounted_.removeAll(folder);
    }

    static QStringList Client(quint16 port) {
        return {QStringLiteral("--headless"), QStringLiteral("--connect"), QStringLiteral("--poll"),
                QStringLiteral("0.05"),       QStringLiteral("--port"),    QString::number(port),
                QStringLiteral("127.0.0.1")};
    }

    // The 16 lines a cycle writes, each ended, nothing else.
    static bool WholeStateFile(const QByteArray& bytes) {
        static const char* const keys[] = {
            "BatterySize",       "PVCharge",         "GridCharge",         "PVChargeToday",
            "GridChargeToday",   "PVChargeLife",     "GridChargeLife",     "PVDischarge",
            "GridDischarge",     "PVDischargeToday", "GridDischargeToday", "PVDischargeLife",
            "GridDischargeLife", "BatteryPercent",   "CurrentLevelKWh",    "Date"};
        const QList<QByteArray> lines = bytes.split('\n');
        if (bytes.contains('\0') || lines.size() != 17 || !lines.last().isEmpty()) {
            return false;
        }
        for (int i = 0; i < 16; ++i) {
            if (!lines[i].startsWith(QByteArray(keys[i]) + " = ") || !lines[i].endsWith('\r')) {
                return false;
            }
        }
        return true;
    }

    // Whole lines only, or nothing.
    static bool WholeLines(const QByteArray& bytes) {
        return bytes.isEmpty() || (bytes.endsWith('\n') && !bytes.contains('\0'));
    }

private:
    QStringList mounted_;
};

} // namespace

TEST_F(PowerCut, EveryCopyOfTheDiskHoldsAWholeStateFileAndWholeLogsAfterTheNextStart) {
    const QString live = path(QStringLiteral("live"));
    QString why;
    if (!MountNew(path(QStringLiteral("disk.img")), live, &why)) {
        GTEST_SKIP() << "loop devices are not allowed here, so no power cut is simulated: "
                     << why.toStdString();
    }
    // The state of charge moves every poll, so the log grows all the time.
    Program sim(QStringLiteral(E2E_SIM),
                {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--speed"),
                 QStringLiteral("0"), QStringLiteral("--step"), QStringLiteral("900")});
    const quint16 port = sim.listeningPort();
    ASSERT_NE(port, 0);
    WriteAll(live + QStringLiteral("/ModbusClient.ini"), "\r\n\r\n\r\nBatterySoC.log\r\n");
    Program client(QStringLiteral(E2E_CLIENT), Client(port), live);
    ASSERT_TRUE(
        WaitUntil([&] { return client.countLines(QStringLiteral("Polled 24 registers")) >= 3; }, 10000));

    QRandomGenerator random(20261210);
    const int copies = 8;
    for (int copy = 1; copy <= copies; ++copy) {
        SCOPED_TRACE(copy);
        QTest::qWait(static_cast<int>(random.bounded(150, 900)));
        const QString image = path(QStringLiteral("copy.img"));
        QFile::remove(image);
        ASSERT_TRUE(RunTool(QStringLiteral("cp"), {path(QStringLiteral("disk.img")), image}, &why))
            << why.toStdString();
        const QString folder = path(QStringLiteral("copy"));
        ASSERT_TRUE(Mount(image, folder, &why)) << why.toStdString();
        const QByteArray state = ReadAll(folder + QStringLiteral("/Battery.txt"));
        EXPECT_TRUE(WholeStateFile(state)) << state.toStdString();

        // The next start: its first cycle comes after the repair of the logs.
        {
            Program next(QStringLiteral(E2E_CLIENT), Client(port), folder);
            EXPECT_TRUE(WaitUntil([&] { return next.countLines(QStringLiteral("Polled 24 registers")) >= 1; },
                                  10000));
            EXPECT_EQ(next.stop(), 0);
        }
        for (const char* log : {"BatterySoC.log", "ModbusClient errors.log"}) {
            const QByteArray bytes = ReadAll(folder + QLatin1Char('/') + QLatin1String(log));
            EXPECT_TRUE(WholeLines(bytes)) << log << ": " << bytes.right(80).toStdString();
        }
        Unmount(folder);
    }
    EXPECT_EQ(client.stop(), 0);
    EXPECT_GT(ReadAll(live + QStringLiteral("/BatterySoC.log")).count('\n'), 10);
}

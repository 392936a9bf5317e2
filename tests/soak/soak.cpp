// Runs the headless client's poll cycle for a number of cycles against a server and checks that
// an unattended logger holds up: every cycle completes, the error log stays empty, resident
// memory stays flat after the first 1,000 cycles, the status pane stays bounded.
//   soak [--cycles N] [--poll SECONDS] [--sim PATH | HOST:PORT]
// --sim starts that battery-sim on a free loopback port and polls it; without either, it serves
// itself from a loopback server in the same process.
#include "app/shell.h"
#include "common/fake_server.h"
#include "support/clock.h"
#include "support/prompter.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

constexpr int kSettleCycles = 1000;
constexpr qint64 kMaxGrowthKiB = 1024;
constexpr int kMaxPaneChars = 4096;
constexpr int kStallMs = 15000;

qint64 ResidentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
        }
    }
    return -1;
}

struct Tally {
    int blockA = 0;
    int cycles = 0;
    int connects = 0;
    int otherLines = 0;
    int maxPane = 0;
    qint64 settledKiB = -1;
    qint64 endKiB = -1;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption cyclesOption(QStringLiteral("cycles"), QStringLiteral("Poll cycles to run."),
                                          QStringLiteral("N"), QStringLiteral("10000"));
    const QCommandLineOption pollOption(QStringLiteral("poll"), QStringLiteral("Poll rate in seconds."),
                                        QStringLiteral("SECONDS"), QStringLiteral("0.001"));
    const QCommandLineOption simOption(
        QStringLiteral("sim"), QStringLiteral("The battery-sim to start and poll."), QStringLiteral("PATH"));
    parser.addOptions({cyclesOption, pollOption, simOption});
    parser.addPositionalArgument(QStringLiteral("HOST:PORT"), QStringLiteral("The server to poll."));
    parser.process(app);
    const int target = parser.value(cyclesOption).toInt();
    if (target <= kSettleCycles) {
        std::fprintf(stderr, "soak: --cycles must be more than %d\n", kSettleCycles);
        return 2;
    }

    QString host = QStringLiteral("127.0.0.1");
    QString port;
    std::unique_ptr<FakeServer> own;
    QProcess sim;
    if (parser.isSet(simOption)) {
        // A simulated day per minute, so the figures change from cycle to cycle.
        sim.start(parser.value(simOption), {QStringLiteral("--port"), QStringLiteral("0"),
                                            QStringLiteral("--speed"), QStringLiteral("1440")});
        // Its first line names the port; nothing else runs yet, so waiting here holds up nobody.
        if (!sim.waitForStarted(10000) || !sim.waitForReadyRead(10000) || !sim.canReadLine()) {
            std::fprintf(stderr, "soak: battery-sim did not start\n");
            return 1;
        }
        const QByteArray line = sim.readLine().trimmed();
        port = QString::fromLatin1(line.mid(line.lastIndexOf(':') + 1));
    } else if (!parser.positionalArguments().isEmpty()) {
        const QString address = parser.positionalArguments().first();
        host = address.section(QLatin1Char(':'), 0, -2);
        port = address.section(QLatin1Char(':'), -1);
    } else {
        own = std::make_unique<FakeServer>();
        if (!own->listen()) {
            std::fprintf(stderr, "soak: cannot listen on loopback\n");
            return 1;
        }
        own->registers[60095] = 57;
        own->registers[60169] = 1500;
        port = QString::number(own->port());
    }

    // The program writes its files into the working directory: a scratch one.
    QTemporaryDir scratch;
    if (!scratch.isValid() || !QDir::setCurrent(scratch.path())) {
        return 1;
    }
    SystemClock clock;
    RecordingPrompter prompter;
    Shell shell(clock, prompter);
    Tally tally;
    QElapsedTimer sinceStart;
    QElapsedTimer sinceCycle;
    shell.status().echo = [&](const QString& line) {
        if (line.startsWith(QLatin1String("Polled 95 registers"))) {
            ++tally.blockA;
        } else if (line.startsWith(QLatin1String("Polled 24 registers"))) {
            ++tally.cycles;
            sinceCycle.restart();
            if (own) {
                own->requests.clear(); // the server's record is not the client's memory
            }
            if (tally.cycles == kSettleCycles) {
                tally.settledKiB = ResidentKiB();
            }
            if (tally.cycles == target) {
                tally.endKiB = ResidentKiB();
                QCoreApplication::exit(0);
            }
        } else if (line.startsWith(QLatin1String("Connected to server"))) {
            ++tally.connects;
        } else {
            ++tally.otherLines;
            std::fprintf(stderr, "soak: unexpected status line: %s\n", line.toLocal8Bit().constData());
        }
    };
    QObject::connect(&shell, &Shell::changed, &shell, [&] {
        tally.maxPane = std::max(tally.maxPane, static_cast<int>(shell.form().txtStatus.size()));
    });
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, &app, [&] {
        if (sinceCycle.elapsed() > kStallMs) {
            std::fprintf(stderr, "soak: no cycle completed for %d s\n", kStallMs / 1000);
            QCoreApplication::exit(1);
        }
    });
    watchdog.start(1000);

    sinceStart.start();
    sinceCycle.start();
    shell.Form_Load(host);
    shell.form().Port = port;
    shell.form().Pollrate = parser.value(pollOption);
    shell.Check1_Click(true);
    shell.connectcmd_Click();
    const int code = app.exec();
    sim.terminate();
    sim.waitForFinished(5000);
    const double seconds = static_cast<double>(sinceStart.elapsed()) / 1000.0;

    const bool logEmpty = !QFile::exists(shell.log().path());
    const qint64 growth = tally.endKiB - tally.settledKiB;
    // The cycle in flight when the count was reached may have its block A line already.
    const bool allComplete = tally.blockA - tally.cycles <= 1;
    const bool ok = code == 0 && allComplete && logEmpty && prompter.messages.isEmpty() &&
                    tally.connects == 1 && tally.otherLines == 0 && tally.settledKiB > 0 &&
                    growth < kMaxGrowthKiB && tally.maxPane <= kMaxPaneChars;
    std::printf("soak: %d cycles in %.1f s (%.0f/s) against %s:%s; block A %d; connects %d; error log %s; "
                "prompts %lld; resident %lld KiB after %d cycles, %lld KiB at the end (growth %lld KiB, "
                "limit %lld); status pane at most %d chars (limit %d): %s\n",
                tally.cycles, seconds, tally.cycles / seconds, host.toLocal8Bit().constData(),
                port.toLocal8Bit().constData(), tally.blockA, tally.connects,
                logEmpty ? "empty" : "HAS ENTRIES", static_cast<long long>(prompter.messages.size()),
                static_cast<long long>(tally.settledKiB), kSettleCycles, static_cast<long long>(tally.endKiB),
                static_cast<long long>(growth), static_cast<long long>(kMaxGrowthKiB), tally.maxPane,
                kMaxPaneChars, ok ? "PASS" : "FAIL");
    if (!logEmpty) {
        QFile log(shell.log().path());
        if (log.open(QIODevice::ReadOnly)) {
            std::fputs(log.readAll().left(2000).constData(), stderr);
        }
    }
    return ok ? 0 : 1;
}

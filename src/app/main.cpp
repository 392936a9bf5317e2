#include "app/command_line.h"
#include "app/config_file.h"
#include "app/demo.h"
#include "app/end_charge.h"
#include "app/history.h"
#include "app/hourly_summary.h"
#include "app/publishing.h"
#include "app/shell.h"
#include "app/window_program.h"
#include "publish/broker_memory.h"
#include "support/clock.h"
#include "support/journal.h"
#include "support/prompter.h"

#if MODBUSCLIENT_WINDOW
#include "app/history_window.h"
#include "app/main_window.h"
#include "app/message_box_prompter.h"

#include <QApplication>
#endif
#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int signalPipe[2] = {-1, -1};

void OnStopSignal(int) {
    const char byte = 1;
    // Only async-signal-safe work here; the event loop does the rest.
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[0], &byte, 1);
}

// SIGINT, SIGTERM and SIGHUP (a closed terminal) end the event loop cleanly, so that a managed
// charge is ended and the program exits 0.
void QuitOnStopSignals(QCoreApplication& app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] {
        char byte = 0;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[1], &byte, 1);
        app.quit();
    });
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

// The program's end ends a managed charge; an end the installation did not confirm in time is
// said, and kept in the state file for the next run.
void EndManagedCharge(Shell& shell, int waitMs) {
    QString unconfirmed;
    if (!shell.FinishManagedCharge(waitMs, &unconfirmed)) {
        PrintToStderr(Priority::Error,
                      QStringLiteral("ModbusClient: the end of the managed charge is not confirmed (%1); the "
                                     "next start ends it, or run ModbusClient --end-charge")
                          .arg(unconfirmed));
    }
}

// Status lines wait for the end of their event, so that the next request goes out before the
// write to standard output; each event's lines still leave at once.
// Under the journal they go at debug priority, which the unit's LogLevelMax=info drops: two lines
// a cycle would bury everything else (the hourly summary says what they would).
class StatusPrinter {
public:
    void line(const QString& text, Priority priority = Priority::Debug) {
        pending_ += PriorityPrefix(priority) + text.toLocal8Bit();
        pending_ += '\n';
    }
    void flush() {
        if (pending_.isEmpty()) {
            return;
        }
        std::fwrite(pending_.constData(), 1, static_cast<size_t>(pending_.size()), stdout);
        std::fflush(stdout);
        pending_.clear();
    }

private:
    QByteArray pending_;
};

// The order of start-up: the window load, then what the options ask for.
void Start(Shell& shell, const CommandLine& options, const std::function<void()>& showWindow) {
    shell.link().setResponseTimeoutMs(options.timeoutMs);
    shell.Form_Load(options.classic);
    if (!options.port.isEmpty()) {
        shell.form().Port = options.port;
    }
    if (showWindow) {
        showWindow();
    }
    if (!options.poll.isEmpty()) {
        shell.form().Pollrate = options.poll;
        shell.Check1_Click(true);
    }
    if (options.connect) {
        shell.connectcmd_Click();
    }
    Q_EMIT shell.changed();
}

// --demo: the simulator is the server; a failure to start it ends the program with status 1.
bool StartDemo(Demo& demo, QCoreApplication& app) {
    QObject::connect(&demo, &Demo::failed, &app, [](const QString& reason) {
        PrintToStderr(Priority::Error, QStringLiteral("ModbusClient: ") + reason);
        QCoreApplication::exit(1);
    });
    QString error;
    if (!demo.start(&error)) {
        PrintToStderr(Priority::Error, QStringLiteral("ModbusClient: ") + error);
        return false;
    }
    return true;
}
} // namespace

int main(int argc, char** argv) {
    PinLocalTimeZone();
    // Parsed before the application object exists, so --help, --version and bad options work
    // without a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments.append(QString::fromLocal8Bit(argv[i]));
    }
    CommandLine options;
    QString error;
    QString output;
    bool exitNow = false;
    PrefixQtMessages();
    if (!ParseCommandLine(arguments, &options, &error, &exitNow, &output)) {
        PrintToStderr(Priority::Error, QStringLiteral("ModbusClient: %1\nTry --help.").arg(error));
        return 2;
    }
    if (exitNow) {
        std::fputs(output.toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (!options.exportKind.isEmpty()) {
        // The store of the working folder --workdir or --data-folder names, like every other file.
        if (!EnterWorkingFolder(options.workdir, &error)) {
            PrintToStderr(Priority::Error, QStringLiteral("ModbusClient: ") + error);
            return 1;
        }
        QCoreApplication app(argc, argv);
        return ExportHistory(options);
    }
#if !MODBUSCLIENT_WINDOW
    if (!options.headless && !options.endCharge) {
        return RunWindowProgram(argv); // returns only when it cannot be started
    }
#endif

    // The working folder first: every file after this is read and written there.
    if (!EnterWorkingFolder(options.workdir, &error)) {
        PrintToStderr(Priority::Error, QStringLiteral("ModbusClient: ") + error);
        return 1;
    }
    // The settings file, read once, may name the server, a broker and a nightly charge; the
    // command line wins over it.
    SettingsFile settings;
    BrokerSettings broker;
    if (!ReadSettingsFile(options.config, &settings, &error) ||
        (ApplySettingsFile(settings, &options),
         !ResolveBrokerSettings(options.mqtt, settings.mqtt, qgetenv(kPasswordVariable), &broker, &error,
                                settings.path.isEmpty() ? QString::fromLatin1(kBrokerConfFile)
                                                        : settings.path))) {
        PrintToStderr(Priority::Error, QStringLiteral("ModbusClient: %1\nTry --help.").arg(error));
        return 2;
    }
    if (options.endCharge) {
        QCoreApplication app(argc, argv);
        SystemClock clock;
        return EndChargeAndExit(options, settings, clock);
    }

    const bool headless = options.headless;
    if (headless && !qEnvironmentVariableIsSet("QT_NO_GLIB")) {
        // Qt's own event loop: the GLib one wakes itself through an eventfd each time the socket's
        // write notifier goes on or off, four system calls a poll cycle.
        qputenv("QT_NO_GLIB", "1");
    }
    std::unique_ptr<QCoreApplication> app;
#if MODBUSCLIENT_WINDOW
    if (!headless) {
        app = std::make_unique<QApplication>(argc, argv);
    }
#endif
    if (!app) {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("ModbusClient"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(MODBUSCLIENT_VERSION_TEXT));

    if (options.demo && (!Demo::EnterFolder(&error) || !Demo::ReadChargePlan(&settings.charge, &error))) {
        PrintToStderr(Priority::Error, QStringLiteral("ModbusClient: ") + error);
        return 1;
    }
    // In the folder the counters were published from: Home Assistant would take a counter in
    // another unit as a jump of 1000 times.
    if (broker.enabled() && !RememberEnergyUnit(broker.deviceCountsKwh, &error)) {
        PrintToStderr(Priority::Error, QStringLiteral("ModbusClient: ") + error);
        return 2;
    }

    SystemClock clock;
    if (headless) {
        StderrPrompter prompter;
        Shell shell(clock, prompter);
        shell.charge().setWindow(settings.charge.window);
        shell.charge().setManaged(settings.charge.window.enabled() || settings.charge.plan.enabled() ||
                                  broker.control);
        shell.plan().setSettings(settings.charge.plan);
        StatusPrinter printer;
        shell.status().echo = [&printer](const QString& line) { printer.line(line); };
        if (!PriorityPrefix(Priority::Info).isEmpty()) {
            // Under the journal, what the managed charge does is kept though the status lines are not.
            const auto notice = [&printer](const QString& line) { printer.line(line, Priority::Info); };
            shell.charge().setNotice(notice);
            shell.plan().setNotice(notice);
        }
        if (!PriorityPrefix(Priority::Error).isEmpty()) {
            // So that `journalctl -p err` shows every entry of the error log.
            shell.log().echo = [](const QString& entry) { PrintToStderr(Priority::Error, entry); };
        }
        QObject::connect(&shell, &Shell::changed, &shell, [&printer] { printer.flush(); });
        const auto publisher = StartPublishing(shell, broker, clock);
        QuitOnStopSignals(*app);
        Start(shell, options, {});
        const auto history = StartHistory(shell, clock, settings.history);
        std::unique_ptr<HourlySummary> summary;
        if (!PriorityPrefix(Priority::Info).isEmpty()) {
            const auto info = [](const QString& line) { PrintToStderr(Priority::Info, line); };
            summary = std::make_unique<HourlySummary>(shell, info, HourlySummary::IntervalFromEnvironment());
            info(summary->startLine());
        }
        Demo demo(shell);
        if (options.demo && !StartDemo(demo, *app)) {
            return 1;
        }
        const int code = app->exec();
        EndManagedCharge(shell, settings.charge.endWaitMs);
        shell.Form_Unload();
        printer.flush();
        return code;
    }

#if MODBUSCLIENT_WINDOW
    MessageBoxPrompter prompter;
    Shell shell(clock, prompter);
    shell.charge().setWindow(settings.charge.window);
    shell.charge().setManaged(settings.charge.window.enabled() || settings.charge.plan.enabled() ||
                              broker.control);
    shell.plan().setSettings(settings.charge.plan);
    MainWindow window(shell);
    prompter.setWindow(&window);
    EndProgramWithWindow(window);
    const auto publisher = StartPublishing(shell, broker, clock);
    QuitOnStopSignals(*app);
    Start(shell, options, [&window] { window.show(); });
    const auto history = StartHistory(shell, clock, settings.history);
    OpenHistoryOnClick(window, shell, *history, clock, [&shell] { return shell.plan().view(); });
    Demo demo(shell);
    if (options.demo && !StartDemo(demo, *app)) {
        return 1;
    }
    const int code = window.wasClosed() ? 0 : app->exec();
    EndManagedCharge(shell, settings.charge.endWaitMs);
    return code;
#else
    return 1; // the window runs in its own program, handed over above
#endif
}

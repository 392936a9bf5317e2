#include "app/command_line.h"

#include "support/text_forms.h"

#include <QCommandLineParser>
#include <QDir>

namespace {
// After the options: where the files go and what the exit status says.
const char* const kHelpEnd =
    "\nFiles: ModbusClient.ini, modbusclient.conf, Battery.txt, BatterySoC.log, BatteryNight.txt,\n"
    "\"battery daily summary.log\", \"ModbusClient errors.log\", \"ModbusClient control.log\" and\n"
    "history.sqlite are read and written in the current folder, or in DIR with --workdir.\n"
    "\nExit status: 0 after --help, --version, --export, closing the window, SIGINT or SIGTERM;\n"
    "1 when the working folder cannot be made, the demo cannot start or --export finds no store;\n"
    "2 for a bad option or a bad settings file.\n";

// $XDG_DATA_HOME/ModbusClient, ~/.local/share/ModbusClient when that is unset or relative.
QString UserDataFolder() {
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (!QDir::isAbsolutePath(base)) {
        base = QDir::homePath() + QStringLiteral("/.local/share");
    }
    return base + QStringLiteral("/ModbusClient");
}
} // namespace

bool ParsePort(const QString& text, QString* port) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok || value < 1 || value > 65535) {
        return false;
    }
    *port = QString::number(value);
    return true;
}

bool ParseCommandLine(const QStringList& arguments, CommandLine* result, QString* error, bool* exitNow,
                      QString* output) {
    *exitNow = false;
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Modbus TCP client for a home battery and inverter installation."));
    // Not addHelpOption(): its --help-all promises Qt's own options, which this program refuses.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays help on the options and exits."));
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Server TCP port (sets the Port field)."),
                                  QStringLiteral("N"));
    const QCommandLineOption connect(QStringLiteral("connect"),
                                     QStringLiteral("Press \"Connect\" once start-up is done."));
    const QCommandLineOption poll(
        QStringLiteral("poll"),
        QStringLiteral("Poll every SECONDS, 0.001 to 65.535 (puts it in the poll rate and "
                       "ticks \"Poll\")."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption timeout(QStringLiteral("timeout"),
                                     QStringLiteral("Seconds to wait for a response (default 5)."),
                                     QStringLiteral("SECONDS"), QStringLiteral("5"));
    const QCommandLineOption headless(
        QStringLiteral("headless"), QStringLiteral("No windows: status lines on standard output, prompts and "
                                                   "errors on standard error (under systemd: the journal, "
                                                   "status lines at debug priority, a summary every hour); "
                                                   "runs until SIGINT or SIGTERM."));
    const QCommandLineOption demo(
        QStringLiteral("demo"),
        QStringLiteral("Start the simulated installation battery-sim, keep the files in "
                       "modbusclient-demo/, connect to it and poll every 2 s."));
    const QCommandLineOption mqtt(QStringLiteral("mqtt"),
                                  QStringLiteral("Publish the figures to the MQTT broker at HOST (port 1883 "
                                                 "unless given); the password comes from %1.")
                                      .arg(QLatin1String(kPasswordVariable)),
                                  QStringLiteral("HOST[:PORT]"));
    const QCommandLineOption mqttTopic(
        QStringLiteral("mqtt-topic"),
        QStringLiteral("MQTT topic prefix (default modbusclient/<serial number>)."),
        QStringLiteral("PREFIX"));
    const QCommandLineOption mqttUser(QStringLiteral("mqtt-user"), QStringLiteral("MQTT user name."),
                                      QStringLiteral("USER"));
    const QCommandLineOption mqttTls(QStringLiteral("mqtt-tls"),
                                     QStringLiteral("Connect to the broker over TLS, trusting CAFILE."),
                                     QStringLiteral("CAFILE"));
    const QCommandLineOption mqttControl(
        QStringLiteral("mqtt-control"),
        QStringLiteral("Let Home Assistant start and stop a managed charge over MQTT (PREFIX/charge/set, "
                       "PREFIX/charge/stop and the control entities)."));
    const QCommandLineOption workdir(
        QStringLiteral("workdir"),
        QStringLiteral("Work in DIR (made when missing): every file is read and written there."),
        QStringLiteral("DIR"));
    const QCommandLineOption dataFolder(
        QStringLiteral("data-folder"),
        QStringLiteral("Work in $XDG_DATA_HOME/ModbusClient (~/.local/share/ModbusClient), as the "
                       "menu entry does."));
    const QCommandLineOption config(
        QStringLiteral("config"),
        QStringLiteral("Read the address, port, poll rate, [mqtt] and [charge] sections from FILE "
                       "instead of modbusclient.conf; the command line wins over it."),
        QStringLiteral("FILE"));
    const QCommandLineOption exportKind(
        QStringLiteral("export"),
        QStringLiteral("Write the history store's poll cycles or daily totals as CSV on standard output "
                       "and exit."),
        QStringLiteral("cycles|daily"));
    const QCommandLineOption from(QStringLiteral("from"),
                                  QStringLiteral("With --export: the first day, inclusive."),
                                  QStringLiteral("YYYY-MM-DD"));
    const QCommandLineOption to(QStringLiteral("to"),
                                QStringLiteral("With --export: the last day, inclusive."),
                                QStringLiteral("YYYY-MM-DD"));
    const QCommandLineOption endCharge(
        QStringLiteral("end-charge"),
        QStringLiteral("Connect, write the end of a forced charge (0 W), confirm it by reading the "
                       "registers back and exit: 0 when confirmed, 1 with the reason."));
    const QCommandLineOption ifCharging(
        QStringLiteral("if-charging"),
        QStringLiteral("With --end-charge: only when the working folder's state file says a charge "
                       "may still run; otherwise exit 0 at once."));
    parser.addOptions({port, connect, poll, timeout, headless, demo, mqtt, mqttTopic, mqttUser, mqttTls,
                       mqttControl, workdir, dataFolder, config, exportKind, from, to, endCharge,
                       ifCharging});
    parser.addPositionalArgument(QStringLiteral("IP"),
                                 QStringLiteral("Server address (replaces the IP field)."),
                                 QStringLiteral("[IP]"));

    if (!parser.parse(arguments)) {
        *error = parser.errorText();
        // Qt's own options (-platform offscreen, -style ...) read as a row of unknown one-letter
        // options: name the word instead.
        const QStringList unknown = parser.unknownOptionNames();
        for (const QString& word : arguments.mid(1)) {
            const bool singleDash =
                word.size() > 2 && word.startsWith(QLatin1Char('-')) && word.at(1) != QLatin1Char('-');
            if (singleDash && unknown.contains(word.mid(word.size() - 1))) {
                *error =
                    QStringLiteral("Unknown option '%1': options take two dashes, and Qt's own options are "
                                   "not taken (without a display: --headless, or QT_QPA_PLATFORM=offscreen "
                                   "for the window)")
                        .arg(word);
                break;
            }
        }
        return false;
    }
    if (parser.isSet(help)) {
        *exitNow = true;
        *output =
            parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("ModbusClient")) +
            QLatin1String(kHelpEnd);
        return true;
    }
    if (parser.isSet(version)) {
        *exitNow = true;
        *output = QStringLiteral("ModbusClient %1\n").arg(QString::fromLatin1(MODBUSCLIENT_VERSION_TEXT));
        return true;
    }

    result->classic = parser.positionalArguments().join(QLatin1Char(' '));
    result->endCharge = parser.isSet(endCharge);
    result->endChargeIfCharging = parser.isSet(ifCharging);
    if (result->endChargeIfCharging && !result->endCharge) {
        *error = QStringLiteral("--if-charging goes with --end-charge");
        return false;
    }
    if (parser.isSet(port) && !ParsePort(parser.value(port), &result->port)) {
        *error = QStringLiteral("--port must be a whole number from 1 to 65535");
        return false;
    }
    if (parser.isSet(poll)) {
        // The rate the "Poll" box accepts; refused here, a bad rate would leave polling off unseen.
        double pollSeconds = 0;
        const double ms =
            ParseNumber(parser.value(poll), &pollSeconds) ? RoundHalfEven(pollSeconds * 1000.0) : 0;
        if (!(ms >= 1 && ms <= 65535)) {
            *error = QStringLiteral("--poll must be a number of seconds from 0.001 to 65.535");
            return false;
        }
        result->poll = parser.value(poll);
    }
    double seconds = 0;
    if (!ParseNumber(parser.value(timeout), &seconds) || !(seconds >= 0.001) || seconds > 86400) {
        *error = QStringLiteral("--timeout must be a number of seconds from 0.001 to 86400");
        return false;
    }
    result->timeoutMs = static_cast<int>(RoundHalfEven(seconds * 1000.0));
    result->mqtt = {parser.value(mqtt),
                    parser.value(mqttTopic),
                    parser.value(mqttUser),
                    parser.value(mqttTls),
                    QString(),
                    parser.isSet(mqttControl) ? QStringLiteral("true") : QString()};
    QString host;
    quint16 brokerPort = 0;
    if (parser.isSet(mqtt) && !ParseBrokerAddress(result->mqtt.address, &host, &brokerPort)) {
        *error = QStringLiteral("--mqtt must be HOST or HOST:PORT with a port from 1 to 65535");
        return false;
    }
    if ((parser.isSet(workdir) && parser.value(workdir).isEmpty()) ||
        (parser.isSet(config) && parser.value(config).isEmpty())) {
        *error = QStringLiteral("--workdir and --config need a name");
        return false;
    }
    if (parser.isSet(workdir) && parser.isSet(dataFolder)) {
        *error = QStringLiteral("--workdir and --data-folder cannot be used together");
        return false;
    }
    result->workdir = parser.isSet(dataFolder) ? UserDataFolder() : parser.value(workdir);
    // Named from where the program was started, whatever --workdir says.
    if (parser.isSet(config)) {
        result->config = QDir::current().absoluteFilePath(parser.value(config));
    }
    if (parser.isSet(exportKind)) {
        result->exportKind = parser.value(exportKind);
        if (result->exportKind != QLatin1String("cycles") && result->exportKind != QLatin1String("daily")) {
            *error = QStringLiteral("--export must be cycles or daily");
            return false;
        }
    } else if (parser.isSet(from) || parser.isSet(to)) {
        *error = QStringLiteral("--from and --to go with --export");
        return false;
    }
    const std::pair<const QCommandLineOption*, QDate*> days[] = {{&from, &result->exportFrom},
                                                                 {&to, &result->exportTo}};
    for (const auto& [option, day] : days) {
        if (parser.isSet(*option)) {
            *day = QDate::fromString(parser.value(*option), QStringLiteral("yyyy-MM-dd"));
            if (!day->isValid()) {
                *error =
                    QStringLiteral("--%1 must be a date as YYYY-MM-DD").arg(option->names().constFirst());
                return false;
            }
        }
    }
    result->connect = parser.isSet(connect);
    result->headless = parser.isSet(headless);
    result->demo = parser.isSet(demo);
    return true;
}

#include "app/demo.h"

#include "app/shell.h"
#include "controls/charge_window.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>

#include <csignal>
#include <sys/prctl.h>

const char* const kDemoFolder = "modbusclient-demo";

namespace {
const char* const kDemoSettings = "demo.conf";
// Full by 07:00, charged in the cheapest quarter hours of the simulator's prices.
const char kDemoPlan[] = "# The demo's charge plan, read at each start of the demo; the lines with # are\n"
                         "# other settings to try.\n"
                         "[charge]\n"
                         "plan = cheapest\n"
                         "ready_by = 07:00\n"
                         "# target_soc = 90\n"
                         "# power = 2.5\n"
                         "# max_price = 0.25\n";
} // namespace

Demo::Demo(Shell& shell, QObject* parent) : QObject(parent), shell_(shell) {
    connect(&sim_, &QProcess::readyReadStandardOutput, this, &Demo::onOutput);
    connect(&sim_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart) {
            Q_EMIT failed(QStringLiteral("cannot start battery-sim: %1").arg(sim_.errorString()));
        }
    });
    connect(&sim_, &QProcess::finished, this, [this] {
        if (!listening_) {
            Q_EMIT failed(QStringLiteral("battery-sim ended before it listened"));
        }
    });
}

Demo::~Demo() {
    if (sim_.state() == QProcess::NotRunning) {
        return;
    }
    sim_.terminate();
    if (!sim_.waitForFinished(2000)) {
        sim_.kill();
        sim_.waitForFinished(2000);
    }
}

bool Demo::EnterFolder(QString* error) {
    const QString folder = QDir::current().absoluteFilePath(QString::fromLatin1(kDemoFolder));
    if (!QDir().mkpath(folder) || !QDir::setCurrent(folder)) {
        *error = QStringLiteral("cannot make or enter the folder %1").arg(folder);
        return false;
    }
    return true;
}

bool Demo::ReadChargePlan(ChargeSettings* charge, QString* error) {
    const QString path = QString::fromLatin1(kDemoSettings);
    if (!QFileInfo::exists(path)) {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(kDemoPlan) < 0 || !file.commit()) {
            *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
            return false;
        }
    }
    QSettings conf(path, QSettings::IniFormat);
    if (!ReadChargeSettings(conf, charge, error)) {
        *error = QStringLiteral("%1 in %2").arg(*error, QDir::current().absoluteFilePath(path));
        return false;
    }
    return true;
}

QString Demo::FindSimulator() {
    const QString here = QCoreApplication::applicationDirPath();
    for (const QString& candidate :
         {here + QStringLiteral("/battery-sim"), here + QStringLiteral("/../sim/battery-sim"),
          here + QStringLiteral("/../../bin/battery-sim")}) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable()) {
            return info.canonicalFilePath();
        }
    }
    return QStandardPaths::findExecutable(QStringLiteral("battery-sim"));
}

bool Demo::start(QString* error) {
    const QString program = FindSimulator();
    if (program.isEmpty()) {
        *error = QStringLiteral("battery-sim not found beside the client or on PATH");
        return false;
    }
    // Should the client die without cleaning up, the kernel still stops the simulator.
    sim_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    sim_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim_.start(program, {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--tariff"),
                         QStringLiteral("auto")});
    return true;
}

void Demo::onOutput() {
    if (listening_) {
        sim_.readAllStandardOutput();
        return;
    }
    firstLine_ += sim_.readAllStandardOutput();
    const qsizetype end = firstLine_.indexOf('\n');
    if (end < 0) {
        return;
    }
    // "battery-sim listening on 127.0.0.1:PORT"
    const QByteArray line = firstLine_.left(end).trimmed();
    const QString port = QString::fromLatin1(line.mid(line.lastIndexOf(':') + 1));
    listening_ = true;
    Form& form = shell_.form();
    form.IP = QStringLiteral("127.0.0.1");
    form.Port = port;
    form.Pollrate = QStringLiteral("2");
    shell_.Check1_Click(true);
    shell_.connectcmd_Click();
    Q_EMIT shell_.changed();
}

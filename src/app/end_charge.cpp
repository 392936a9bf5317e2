#include "app/end_charge.h"

#include "app/shell.h"
#include "controls/charge_intent.h"
#include "support/journal.h"
#include "support/prompter.h"

#include <QEventLoop>
#include <QTimer>

#include <cstdio>

namespace {
const char* const kSource = "end-charge";

int Fail(const QString& reason) {
    PrintToStderr(Priority::Error,
                  QStringLiteral("ModbusClient: the end of the charge is not confirmed: ") + reason);
    return 1;
}
} // namespace

int EndChargeAndExit(const CommandLine& options, const SettingsFile& settings, const Clock& clock) {
    if (options.endChargeIfCharging) {
        ChargeIntent intent;
        QString error;
        // A state file that cannot be read may hide a charge: the end goes out then too.
        if (ReadChargeIntent(&intent, &error) && intent.phase == ChargeIntent::Phase::Idle) {
            return 0;
        }
    }
    StderrPrompter prompter;
    Shell shell(clock, prompter);
    shell.status().echo = [](const QString& line) {
        std::fprintf(stdout, "%s\n", line.toLocal8Bit().constData());
        std::fflush(stdout);
    };
    shell.link().setResponseTimeoutMs(options.timeoutMs);
    shell.Form_Load(options.classic);
    if (!options.port.isEmpty()) {
        shell.form().Port = options.port;
    }
    // Nothing but the command: no poll, no registers file, no state of charge.
    shell.link().holdPolling(true);
    shell.timer2().stop();
    ManagedCharge& charge = shell.charge();
    QEventLoop loop;
    QTimer::singleShot(settings.charge.endWaitMs, &loop, &QEventLoop::quit);
    QObject::connect(&charge, &ManagedCharge::settled, &loop, &QEventLoop::quit);
    bool asked = false;
    const auto ask = [&] {
        if (!asked && shell.link().isConnected()) {
            asked = true;
            charge.stop(QString::fromLatin1(kSource), QStringLiteral("asked by --end-charge"));
        }
    };
    QObject::connect(&shell, &Shell::changed, &loop, ask);
    shell.connectcmd_Click();
    ask();
    loop.exec();
    if (!asked) {
        return Fail(
            QStringLiteral("no connection to %1:%2").arg(shell.form().IP.trimmed(), shell.form().Port));
    }
    if (charge.state().phase != ChargePhase::Idle) {
        return Fail(charge.unconfirmedEnd());
    }
    return 0;
}

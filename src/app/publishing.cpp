#include "app/publishing.h"

#include "app/shell.h"
#include "publish/charge_commands.h"
#include "publish/plan_topics.h"

#include <QCryptographicHash>
#include <QDir>
#include <QSysInfo>

std::unique_ptr<MqttPublisher> StartPublishing(Shell& shell, const BrokerSettings& settings,
                                               const Clock& clock) {
    shell.counterGuard().countsKwh = settings.deviceCountsKwh;
    if (!settings.enabled()) {
        return nullptr;
    }
    auto publisher = std::make_unique<MqttPublisher>(settings, clock, shell.log());
    MqttPublisher* p = publisher.get();
    // The rate the operator set while it polls, otherwise the once-a-minute poll.
    p->pollPeriodMs = [&shell] {
        return shell.timer1().isActive() ? shell.timer1().interval() : shell.timer2().interval();
    };
    p->responseTimeoutMs = [&shell] { return shell.link().responseTimeoutMs(); };
    p->session().notify = [&shell](const QString& text) {
        shell.status().AppendStatusLine(text);
        Q_EMIT shell.changed();
    };
    QObject::connect(&shell, &Shell::cycleCompleted, p, &MqttPublisher::cycleCompleted);
    QObject::connect(&shell, &Shell::linkLost, p, [p] { p->linkLost(); });
    if (settings.control) {
        // One session the broker keeps for this installation's folder, so that a stop sent while
        // the link was down still arrives.
        const QByteArray folder = QDir::currentPath().toUtf8();
        p->session().setPersistentId(
            "modbusclient-" +
            QCryptographicHash::hash(QSysInfo::machineUniqueId() + folder, QCryptographicHash::Sha1)
                .toHex()
                .left(12));
        new ChargeCommands(*p, shell.charge(), p); // owned by the publisher
    }
    if (shell.plan().settings().enabled() || settings.control) {
        new PlanTopics(*p, shell.plan(), settings.control, clock, p); // owned by the publisher
    }
    return publisher;
}

#include "app/hourly_summary.h"

#include "app/shell.h"

#include <QDir>

namespace {
QString Duration(int seconds) {
    return seconds % 60 == 0 ? QStringLiteral("%1 min").arg(seconds / 60)
                             : QStringLiteral("%1 s").arg(seconds);
}
} // namespace

QString FiguresSummary(const Form& form) {
    if (form.BatteryPercent.isEmpty()) {
        return QStringLiteral("no figures read yet");
    }
    if (form.NightPVChargeLife.isEmpty()) {
        // Without the night snapshot the day's counters would be the lifetime totals.
        return QStringLiteral("state of charge %1 %; the day's counters start at the first midnight")
            .arg(form.BatteryPercent);
    }
    return QStringLiteral("state of charge %1 %; today PV charge %2, PV discharge %3, grid charge %4, "
                          "grid discharge %5")
        .arg(form.BatteryPercent, form.PVChargeToday, form.PVDischargeToday, form.GridChargeToday,
             form.GridDischargeToday);
}

HourlySummary::HourlySummary(Shell& shell, std::function<void(const QString&)> out, int intervalSeconds)
    : shell_(shell), out_(std::move(out)), intervalSeconds_(intervalSeconds),
      errorsBefore_(shell.log().entriesSinceStart()) {
    connect(&shell_, &Shell::pollCycleCompleted, this, [this] { ++cycles_; });
    timer_.setInterval(intervalSeconds_ * 1000);
    connect(&timer_, &QTimer::timeout, this, [this] { out_(takeLine()); });
    timer_.start();
}

int HourlySummary::IntervalFromEnvironment() {
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("MODBUSCLIENT_SUMMARY_SECONDS", &ok);
    return ok && seconds >= 1 && seconds <= 86400 ? seconds : 3600;
}

QString HourlySummary::startLine() const {
    const Form& form = shell_.form();
    return QStringLiteral("Started for %1:%2 in %3; a summary follows every %4")
        .arg(form.IP, form.Port, QDir::currentPath(), Duration(intervalSeconds_));
}

QString HourlySummary::takeLine() {
    const int errors = shell_.log().entriesSinceStart();
    QString line = QStringLiteral("Last %1: poll cycles %2, errors %3; %4")
                       .arg(Duration(intervalSeconds_))
                       .arg(cycles_)
                       .arg(errors - errorsBefore_)
                       .arg(FiguresSummary(shell_.form()));
    cycles_ = 0;
    errorsBefore_ = errors;
    return line;
}

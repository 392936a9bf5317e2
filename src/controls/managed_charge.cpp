#include "controls/managed_charge.h"

#include "controls/forced_charge.h"
#include "link/connection.h"
#include "link/status_pane.h"
#include "model/form.h"
#include "support/clock.h"
#include "support/file_failures.h"
#include "support/file_utils.h"
#include "support/text_forms.h"

#include <QFile>
#include <cmath>

const char* const kControlLogFile = "ModbusClient control.log";

namespace {
const char* const kWindowSource = "window";
constexpr int kMaxMinutes = 720;

QString Kw(double kw) {
    return DecimalText(kw) + QStringLiteral(" kW");
}

QString Percent(int value) {
    return QString::number(value) + QStringLiteral(" %");
}
} // namespace

ManagedCharge::ManagedCharge(Form& form, ModbusLink& link, StatusPane& status, const Clock& clock,
                             FileFailures& failures, QObject* parent)
    : QObject(parent), form_(form), link_(link), status_(status), clock_(clock), failures_(failures) {
    tick_.setInterval(1000);
    connect(&tick_, &QTimer::timeout, this, [this] { Tick(); });
}

void ManagedCharge::setWindow(const ChargeWindow& window) {
    window_ = window;
    windowServed_ = QDateTime();
    lastWindowRefusal_.clear();
    if (window_.enabled()) {
        tick_.start();
    }
}

ChargeStartResult ManagedCharge::Check(const ChargeRequest& request) const {
    const auto refuse = [](const QString& reason) { return ChargeStartResult{false, reason}; };
    int32_t watts = 0;
    if (!std::isfinite(request.powerKw) || !KilowattsToWatts(request.powerKw, &watts)) {
        return refuse(QStringLiteral("power must be from 0 to 65.535 kW"));
    }
    if (request.minutes && (*request.minutes < 1 || *request.minutes > kMaxMinutes)) {
        return refuse(QStringLiteral("minutes must be from 1 to %1").arg(kMaxMinutes));
    }
    if (request.targetSoc && (*request.targetSoc < 0 || *request.targetSoc > 100)) {
        return refuse(QStringLiteral("target must be from 0 to 100 %"));
    }
    if (!form_.isConnected) {
        return refuse(QStringLiteral("not connected"));
    }
    if (!haveCycle_ || !ratedBatteryWatts) {
        return refuse(
            QStringLiteral("the rated battery power is not known yet (no poll cycle since connecting)"));
    }
    const int32_t rated = ratedBatteryWatts();
    if (watts > rated) {
        return refuse(QStringLiteral("power %1 is above the rated battery power of %2")
                          .arg(Kw(request.powerKw), Kw(rated / 1000.0)));
    }
    if (request.targetSoc && soc_ && *soc_ >= *request.targetSoc) {
        return refuse(QStringLiteral("target %1 already reached (battery at %2)")
                          .arg(Percent(*request.targetSoc), Percent(*soc_)));
    }
    return {true, QString()};
}

ChargeStartResult ManagedCharge::start(const ChargeRequest& request) {
    ChargeStartResult result = Check(request);
    if (!result.accepted) {
        refuse(request, result.reason);
        return result;
    }
    Begin(request, request.minutes ? clock_.now().addSecs(*request.minutes * 60LL) : QDateTime());
    return result;
}

void ManagedCharge::refuse(const ChargeRequest& request, const QString& reason) {
    Report(request.source, QStringLiteral("refused"), request.powerKw, request.targetSoc, reason);
}

void ManagedCharge::Begin(const ChargeRequest& request, const QDateTime& endsAt) {
    if (state_.active) {
        Report(state_.source, QStringLiteral("end"), state_.powerKw, state_.targetSoc,
               QStringLiteral("replaced by a start from ") + request.source);
    }
    const QDateTime now = clock_.now();
    state_.active = true;
    state_.source = request.source;
    state_.powerKw = request.powerKw;
    state_.started = now;
    state_.endsAt = endsAt;
    state_.targetSoc = request.targetSoc;
    KilowattsToWatts(request.powerKw, &watts_);
    endPending_ = false;
    tick_.start();
    QString reason =
        endsAt.isValid() ? QStringLiteral("until ") + HostNow(endsAt) : QStringLiteral("no time limit");
    Report(request.source, QStringLiteral("start"), request.powerKw, request.targetSoc, reason);
    WriteCommand(watts_, false);
    Q_EMIT stateChanged();
}

void ManagedCharge::stop(const QString& source, const QString& reason) {
    End(source, reason.isEmpty() ? QStringLiteral("stop asked") : reason);
}

bool ManagedCharge::finish() {
    End(state_.source, QStringLiteral("program stops"));
    return endWriteInFlight();
}

void ManagedCharge::End(const QString& source, const QString& reason) {
    if (!state_.active) {
        return;
    }
    state_.active = false;
    state_.lastEndReason = reason;
    if (!window_.enabled()) {
        tick_.stop();
    }
    Report(source, QStringLiteral("end"), 0, state_.targetSoc, reason);
    WriteCommand(0, true);
    Q_EMIT stateChanged();
}

void ManagedCharge::WriteCommand(int32_t watts, bool end) {
    if (!form_.isConnected) {
        // Only an end can come while not connected (a start is refused): it waits for the link.
        endPending_ = true;
        Status(QStringLiteral("Managed charge: not connected; 0 W is written when the "
                              "connection is back"));
        return;
    }
    if (end) {
        ++endWrites_;
    }
    link_.QueueWrites(ForcedChargeWrites(watts), [this, end](bool ok) {
        if (!end) {
            return; // a start that did not go out is written again on reconnecting
        }
        --endWrites_;
        if (!ok) {
            endPending_ = true;
            Status(QStringLiteral("Managed charge: 0 W could not be written; it is written "
                                  "when the connection is back"));
        }
        Q_EMIT endWriteSettled(ok);
    });
}

void ManagedCharge::onPollCycleCompleted(const QString& batteryPercent) {
    haveCycle_ = true;
    double soc = 0;
    soc_.reset();
    if (ParseNumber(batteryPercent, &soc)) {
        soc_ = static_cast<int>(soc);
    }
    if (state_.active && state_.targetSoc && soc_ && *soc_ >= *state_.targetSoc) {
        End(state_.source, QStringLiteral("target %1 reached").arg(Percent(*state_.targetSoc)));
    }
    CheckWindow();
}

void ManagedCharge::onConnected() {
    // The installation may have restarted: a running charge is written again, a missed end now.
    if (state_.active) {
        WriteCommand(watts_, false);
    } else if (endPending_) {
        endPending_ = false;
        WriteCommand(0, true);
    }
}

void ManagedCharge::onLinkLost() {
    haveCycle_ = false;
    soc_.reset();
}

void ManagedCharge::Tick() {
    if (state_.active && state_.endsAt.isValid() && clock_.now() >= state_.endsAt) {
        End(state_.source, state_.source == QLatin1String(kWindowSource) ? QStringLiteral("window ended")
                                                                         : QStringLiteral("time limit over"));
    }
    CheckWindow();
}

void ManagedCharge::CheckWindow() {
    const QDateTime start = window_.startHolding(clock_.now());
    if (!start.isValid()) {
        lastWindowRefusal_.clear();
        return;
    }
    // A client started or reconnected inside the window starts it after its first poll cycle,
    // once the rated power and the state of charge are known.
    if (start == windowServed_ || !form_.isConnected || !haveCycle_) {
        return;
    }
    ChargeRequest request;
    request.source = QString::fromLatin1(kWindowSource);
    request.powerKw = window_.powerKw;
    request.targetSoc = window_.targetSoc;
    const QDateTime end = window_.endAfter(start);
    if (request.targetSoc && soc_ && *soc_ >= *request.targetSoc) {
        windowServed_ = start;
        Report(request.source, QStringLiteral("skipped"), request.powerKw, request.targetSoc,
               QStringLiteral("target %1 already reached (battery at %2) for the window %3")
                   .arg(Percent(*request.targetSoc), Percent(*soc_), window_.text()));
        return;
    }
    const ChargeStartResult result = Check(request);
    if (!result.accepted) {
        // Told once per window, not every second.
        if (result.reason != lastWindowRefusal_) {
            lastWindowRefusal_ = result.reason;
            Report(request.source, QStringLiteral("refused"), request.powerKw, request.targetSoc,
                   result.reason);
        }
        return;
    }
    windowServed_ = start;
    Begin(request, end);
}

void ManagedCharge::Status(const QString& line) {
    status_.AppendStatusLine(line);
    Q_EMIT reported();
}

void ManagedCharge::Report(const QString& source, const QString& action, double powerKw,
                           const std::optional<int>& target, const QString& reason) {
    const QString targetText = target ? Percent(*target) : QStringLiteral("no target");
    Status(QStringLiteral("Managed charge %1 (%2): %3, %4, %5")
               .arg(action, source, Kw(powerKw), targetText, reason));
    const QString path = QString::fromLatin1(kControlLogFile);
    const QString line = HostNow(clock_.now()) + QStringLiteral(", ") + source + QStringLiteral(", ") +
                         action + QStringLiteral(", ") + Kw(powerKw) + QStringLiteral(", ") + targetText +
                         QStringLiteral(", ") + reason + CrLf();
    QFile file(path);
    const QByteArray bytes = line.toUtf8();
    if (file.open(QIODevice::WriteOnly | QIODevice::Append) && file.write(bytes) == bytes.size() &&
        file.flush()) {
        failures_.succeeded(path);
        return;
    }
    failures_.failed(path,
                     FileFailure{ClassicFileError(file, path), 10, QStringLiteral("ControlLog"), QString()},
                     QString());
}

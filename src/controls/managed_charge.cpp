#include "controls/managed_charge.h"

#include "controls/forced_charge.h"
#include "link/connection.h"
#include "support/clock.h"
#include "support/file_failures.h"
#include "support/text_forms.h"

#include <cmath>

namespace {
const char* const kWindowSource = "window";
const char* const kLeftRunning = "left running by an earlier run";
constexpr int kMaxMinutes = 720;
} // namespace
ManagedCharge::ManagedCharge(ModbusLink& link, StatusPane& status, const Clock& clock, FileFailures& failures,
                             QObject* parent)
    : QObject(parent), link_(link), log_(status, clock, failures), clock_(clock), failures_(failures),
      device_(link) {
    tick_.setInterval(1000);
    connect(&tick_, &QTimer::timeout, this, [this] { Tick(); });
    connect(&device_, &ChargeDevice::commandConfirmed, this, &ManagedCharge::Confirmed);
    connect(&device_, &ChargeDevice::commandFailed, this, &ManagedCharge::Failed);
    connect(&device_, &ChargeDevice::readBackDone, this, &ManagedCharge::ReadBack);
}

void ManagedCharge::setWindow(const ChargeWindow& window) {
    window_ = window;
    lastWindowRefusal_.clear();
    if (window_.enabled()) {
        managed_ = true;
        tick_.start();
    }
}

void ManagedCharge::restore() {
    ChargeIntent intent;
    QString error;
    if (!ReadChargeIntent(&intent, &error)) {
        // Unreadable: the installation's registers still tell whether it charges.
        log_.status(QStringLiteral("Managed charge: %1 cannot be read (%2); the registers read back decide")
                        .arg(QString::fromLatin1(kChargeStateFile), error));
        return;
    }
    intent_.windowNight = intent.windowNight;
    saved_ = intent;
    if (intent.phase != ChargeIntent::Phase::Idle) {
        restored_ = intent;
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
    if (!link_.isConnected()) {
        return refuse(QStringLiteral("not connected"));
    }
    if (!haveCycle_ || !ratedWatts_) {
        return refuse(
            QStringLiteral("the rated battery power is not known yet (no poll cycle since connecting)"));
    }
    if (watts > *ratedWatts_) {
        return refuse(QStringLiteral("power %1 is above the rated battery power of %2")
                          .arg(KwText(request.powerKw), KwText(*ratedWatts_ / 1000.0)));
    }
    if (request.targetSoc && soc_ && *soc_ >= *request.targetSoc) {
        return refuse(QStringLiteral("target %1 already reached (battery at %2)")
                          .arg(PercentText(*request.targetSoc), PercentText(*soc_)));
    }
    return {true, QString()};
}

ChargeStartResult ManagedCharge::start(const ChargeRequest& request, const QDateTime& endsAt) {
    ChargeStartResult result = Check(request);
    if (!result.accepted) {
        refuse(request, result.reason);
        return result;
    }
    const qint64 ms = endsAt.isValid() ? std::max<qint64>(0, clock_.now().msecsTo(endsAt))
                                       : (request.minutes ? *request.minutes * 60000LL : -1);
    Begin(request, ms, ms >= 0 ? QStringLiteral("until ") + HostNow(clock_.now().addMSecs(ms)) : QString());
    return result;
}

void ManagedCharge::refuse(const ChargeRequest& request, const QString& reason) {
    log_.line(request.source, QStringLiteral("refused"), request.powerKw, request.targetSoc, reason);
    Q_EMIT reported();
}

void ManagedCharge::Begin(const ChargeRequest& request, qint64 durationMs, const QString& until) {
    if (state_.active) {
        Line(state_.source, QStringLiteral("replaced"), state_.powerKw,
             QStringLiteral("by a start from ") + request.source);
    }
    const QDateTime now = clock_.now();
    int32_t watts = 0;
    KilowattsToWatts(request.powerKw, &watts);
    state_.source = request.source;
    state_.powerKw = request.powerKw;
    state_.started = now;
    state_.endsAt = durationMs >= 0 ? now.addMSecs(durationMs) : QDateTime();
    state_.targetSoc = request.targetSoc;
    deadlineMs_.reset();
    if (durationMs >= 0) {
        deadlineMs_ = clock_.monotonicMs() + durationMs;
    }
    intent_.phase = ChargeIntent::Phase::Running;
    intent_.source = request.source;
    intent_.watts = watts;
    intent_.started = now;
    intent_.endsAt = state_.endsAt;
    intent_.targetSoc = request.targetSoc;
    intent_.endReason.clear();
    SetPhase(ChargePhase::Starting);
    tick_.start();
    Line(request.source, QStringLiteral("start"), request.powerKw,
         until.isEmpty() ? QStringLiteral("no time limit") : until);
    device_.command(watts);
}

void ManagedCharge::stop(const QString& source, const QString& reason) {
    End(source, reason.isEmpty() ? QStringLiteral("stop asked") : reason);
}

bool ManagedCharge::finish() {
    if (state_.phase == ChargePhase::Starting || state_.phase == ChargePhase::Running) {
        End(state_.source, QStringLiteral("program stops"));
    } else if (state_.phase == ChargePhase::Idle && (restored_ || (managed_ && state_.foreign))) {
        End(restored_ ? restored_->source : QStringLiteral("program"), QStringLiteral("program stops"));
    }
    return state_.phase == ChargePhase::Ending;
}

QString ManagedCharge::unconfirmedEnd() const {
    if (state_.phase != ChargePhase::Ending) {
        return {};
    }
    return endReason_ + QStringLiteral(": ") +
           (lastFailure_.isEmpty() ? QStringLiteral("no read-back yet") : lastFailure_);
}

void ManagedCharge::End(const QString& source, const QString& reason) {
    if (state_.phase == ChargePhase::Ending) {
        return; // its 0 W is on its way, or written again until it is read back
    }
    if (restored_) {
        // An earlier run's charge: its file says what it was.
        const QDate night = intent_.windowNight;
        intent_ = *restored_;
        intent_.windowNight = night.isValid() ? night : restored_->windowNight;
        state_.source = restored_->source;
        state_.targetSoc = restored_->targetSoc;
        state_.powerKw = restored_->watts / 1000.0;
        restored_.reset();
    }
    endSource_ = source;
    endReason_ = reason;
    lastFailure_.clear();
    endFailing_ = false;
    deadlineMs_.reset();
    intent_.phase = ChargeIntent::Phase::Ending;
    intent_.endReason = reason;
    intent_.watts = 0;
    state_.endConfirmed = false;
    SetPhase(ChargePhase::Ending);
    tick_.start();
    log_.status(QStringLiteral("Managed charge (%1): writing 0 W, %2").arg(source, reason));
    Q_EMIT reported();
    device_.command(0);
}

void ManagedCharge::Confirmed(int32_t watts) {
    if (watts == 0 && state_.phase == ChargePhase::Ending) {
        state_.lastEndReason = endReason_;
        state_.endConfirmed = true;
        intent_.phase = ChargeIntent::Phase::Idle;
        intent_.source.clear();
        intent_.endReason.clear();
        device_.forget();
        SetPhase(ChargePhase::Idle);
        Line(endSource_, QStringLiteral("end"), 0, endReason_);
        if (!window_.enabled()) {
            tick_.stop();
        }
        Q_EMIT settled();
    } else if (watts > 0 && state_.phase == ChargePhase::Starting) {
        SetPhase(ChargePhase::Running);
        log_.status(QStringLiteral("Managed charge running: the installation reads back %1 W").arg(watts));
        Q_EMIT reported();
    }
}

void ManagedCharge::Failed(int32_t watts, const QString& reason) {
    lastFailure_ = reason;
    if (watts == 0) {
        if (!endFailing_) {
            // Once per run of failures; the end is written again until the registers show it.
            endFailing_ = true;
            Line(endSource_, QStringLiteral("end unconfirmed"), 0,
                 QStringLiteral("%1; %2; written again until the installation reads back 0 W")
                     .arg(endReason_, reason));
        }
        return;
    }
    if (state_.phase == ChargePhase::Starting || state_.phase == ChargePhase::Running) {
        Line(state_.source, QStringLiteral("start failed"), state_.powerKw, reason);
        End(state_.source, QStringLiteral("start failed"));
    }
}

void ManagedCharge::ReadBack() {
    const DeviceCommand& device = device_.device();
    if (!knowsDevice_) {
        // The first read-back of the run: an earlier run's charge is settled now, and a charge
        // nobody here started is said once.
        knowsDevice_ = true;
        Resolve();
        if (state_.phase == ChargePhase::Idle && device.charging()) {
            log_.line(
                QStringLiteral("installation"), QStringLiteral("found"), device.watts / 1000.0, std::nullopt,
                QStringLiteral("the installation is charging at %1 W, not started here").arg(device.watts));
            Q_EMIT reported();
        }
    }
    const int watts = device.charging() ? device.watts : 0;
    const bool foreign = state_.phase == ChargePhase::Idle && device.charging();
    if (state_.deviceWatts != watts || state_.foreign != foreign) {
        state_.deviceWatts = watts;
        state_.foreign = foreign;
        Q_EMIT stateChanged();
    }
}

void ManagedCharge::Resolve() {
    if (!restored_) {
        return;
    }
    const ChargeIntent earlier = *restored_;
    const QDateTime now = clock_.now();
    const bool timeUp = earlier.endsAt.isValid() && now >= earlier.endsAt;
    const bool targetReached = earlier.targetSoc && soc_ && *soc_ >= *earlier.targetSoc;
    state_.started = earlier.started.toLocalTime();
    if (earlier.phase == ChargeIntent::Phase::Ending || timeUp || targetReached || earlier.watts <= 0) {
        End(earlier.source, QString::fromLatin1(kLeftRunning));
        return;
    }
    // Still within its limits: it carries on to its original end.
    restored_.reset();
    state_.source = earlier.source;
    state_.targetSoc = earlier.targetSoc;
    state_.endsAt = earlier.endsAt.isValid() ? earlier.endsAt.toLocalTime() : QDateTime();
    deadlineMs_.reset();
    if (earlier.endsAt.isValid()) {
        deadlineMs_ = clock_.monotonicMs() + now.msecsTo(earlier.endsAt);
    }
    state_.powerKw = earlier.watts / 1000.0;
    const QDate night = intent_.windowNight;
    intent_ = earlier;
    intent_.windowNight = night.isValid() ? night : earlier.windowNight;
    SetPhase(ChargePhase::Starting);
    Line(earlier.source, QStringLiteral("carried on"), state_.powerKw,
         QString::fromLatin1(kLeftRunning) +
             (state_.endsAt.isValid() ? QStringLiteral(", until ") + HostNow(state_.endsAt) : QString()));
    device_.command(earlier.watts);
}

void ManagedCharge::onPollCycleCompleted(std::optional<int> soc, std::optional<int32_t> ratedWatts) {
    haveCycle_ = true;
    soc_ = soc;
    // Each cycle's figure bounds the next start: one bad read does not refuse them for the run.
    ratedWatts_ = ratedWatts;
    // Once a run (where this program manages charges), and every cycle while one may run.
    if ((!knowsDevice_ && (managed_ || restored_)) || state_.phase != ChargePhase::Idle) {
        device_.readBack();
    }
    if (state_.active && state_.targetSoc && soc_ && *soc_ >= *state_.targetSoc) {
        End(state_.source, QStringLiteral("target %1 reached").arg(PercentText(*state_.targetSoc)));
    }
    CheckWindow();
}

void ManagedCharge::onConnected() {
    device_.onConnected();
}

void ManagedCharge::onLinkLost() {
    haveCycle_ = false;
    soc_.reset();
}

void ManagedCharge::Tick() {
    CheckLimits();
    CheckWindow();
}

void ManagedCharge::CheckLimits() {
    if (!state_.active) {
        return;
    }
    const bool window = state_.source == QLatin1String(kWindowSource);
    const QString reason = window ? QStringLiteral("window ended") : QStringLiteral("time limit over");
    // The time limit runs on the monotonic clock; a window's end is a wall time as well.
    if (deadlineMs_ && clock_.monotonicMs() >= *deadlineMs_) {
        End(state_.source, reason);
        return;
    }
    if (window && state_.endsAt.isValid() && clock_.now() >= state_.endsAt) {
        End(state_.source, reason);
        return;
    }
    if (deadlineMs_) {
        // The end as a wall time follows a clock that was set meanwhile.
        const QDateTime endsAt = clock_.now().addMSecs(*deadlineMs_ - clock_.monotonicMs());
        if (std::llabs(endsAt.msecsTo(state_.endsAt)) > 1500) {
            state_.endsAt = endsAt;
            Q_EMIT stateChanged();
        }
    }
}

void ManagedCharge::CheckWindow() {
    const QDateTime now = clock_.now();
    const QDate night = window_.nightHolding(now);
    if (!night.isValid()) {
        lastWindowRefusal_.clear();
        return;
    }
    // A client started or reconnected inside the window starts it after its first poll cycle
    // and read-back, once the rated power, the state of charge and an earlier run's charge are
    // known; a night's window runs once, across restarts too.
    if (night == intent_.windowNight || !link_.isConnected() || !haveCycle_ || !knowsDevice_) {
        return;
    }
    ChargeRequest request;
    request.source = QString::fromLatin1(kWindowSource);
    request.powerKw = window_.powerKw;
    request.targetSoc = window_.targetSoc;
    if (request.targetSoc && soc_ && *soc_ >= *request.targetSoc) {
        intent_.windowNight = night;
        Save();
        log_.line(request.source, QStringLiteral("skipped"), request.powerKw, request.targetSoc,
                  QStringLiteral("target %1 already reached (battery at %2) for the window %3")
                      .arg(PercentText(*request.targetSoc), PercentText(*soc_), window_.text()));
        Q_EMIT reported();
        return;
    }
    const ChargeStartResult result = Check(request);
    if (!result.accepted) {
        // Told once per window, not every second.
        if (result.reason != lastWindowRefusal_) {
            lastWindowRefusal_ = result.reason;
            refuse(request, result.reason);
        }
        return;
    }
    intent_.windowNight = night;
    const QDateTime end = window_.endOf(night);
    Begin(request, now.msecsTo(end), QStringLiteral("until ") + HostNow(end));
}

void ManagedCharge::SetPhase(ChargePhase phase) {
    state_.phase = phase;
    state_.active = phase == ChargePhase::Starting || phase == ChargePhase::Running;
    if (phase != ChargePhase::Idle) {
        state_.foreign = false;
    }
    Save();
    Q_EMIT stateChanged();
}

void ManagedCharge::Save() {
    if (saved_ && *saved_ == intent_) {
        return;
    }
    QString error;
    const QString path = QString::fromLatin1(kChargeStateFile);
    if (!WriteChargeIntent(intent_, &error)) {
        failures_.failed(path, FileFailure{75, 10, QStringLiteral("ChargeState"), error}, QString());
        return;
    }
    saved_ = intent_;
    failures_.succeeded(path);
}

void ManagedCharge::Line(const QString& source, const QString& action, double powerKw,
                         const QString& reason) {
    log_.line(source, action, powerKw, state_.targetSoc, reason);
    Q_EMIT reported();
}

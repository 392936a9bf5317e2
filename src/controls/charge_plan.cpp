#include "controls/charge_plan.h"

#include "controls/charge_planner.h"
#include "controls/managed_charge.h"
#include "controls/tariff.h"
#include "model/reading.h"
#include "support/clock.h"
#include "support/text_forms.h"

#include <QFile>
#include <QFileInfo>
#include <cmath>

const char* const kPlanSource = "plan";

namespace {

constexpr double kSocStep = 3; // percent the state of charge moves before the plan is made again
constexpr qint64 kFileCheckMs = 60000;
constexpr qint64 kKeptMs = 86400000; // slots that ran stay in the view a day, for the chart

QString WallClock(const QDateTime& t) {
    return t.toLocalTime().toString(QStringLiteral("HH:mm"));
}

bool SamePrices(const QVector<PriceSlot>& a, const QVector<PriceSlot>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const PriceSlot& x, const PriceSlot& y) {
        return x.start == y.start && x.end == y.end && x.price == y.price;
    });
}

bool SameSlots(const QVector<PlanSlot>& a, const QVector<PlanSlot>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const PlanSlot& x, const PlanSlot& y) {
        return x.start == y.start && x.end == y.end && x.state == y.state;
    });
}

// Refusals that a completed poll cycle clears.
bool Transient(const QString& reason) {
    return reason == QLatin1String("not connected") ||
           reason.startsWith(QLatin1String("the rated battery power is not known"));
}

} // namespace

ChargePlan::ChargePlan(ManagedCharge& charge, StatusPane& status, const Clock& clock, FileFailures& failures,
                       QObject* parent)
    : QObject(parent), charge_(charge), log_(status, clock, failures), clock_(clock) {
    tick_.setInterval(1000);
    connect(&tick_, &QTimer::timeout, this, [this] { Tick(); });
    connect(&charge_, &ManagedCharge::stateChanged, this, &ChargePlan::ChargeChanged);
}

void ChargePlan::setSettings(const PlanSettings& settings) {
    if (settings == settings_) {
        return;
    }
    const bool first = !settings_.enabled();
    settings_ = settings;
    if (!settings_.enabled()) {
        tick_.stop();
        return;
    }
    tick_.start();
    if (first) {
        CheckFile();
    }
    Replan(
        first
            ? QStringLiteral("plan = %1").arg(settings_.mode == PlanSettings::Cheapest ? "cheapest" : "below")
            : QStringLiteral("settings changed"));
}

void ChargePlan::setEnabled(bool enabled, const QString& source) {
    if (enabled == enabled_) {
        return;
    }
    enabled_ = enabled;
    if (!enabled_ && running_) {
        charge_.stop(QString::fromLatin1(kPlanSource), QStringLiteral("plan switched off by ") + source);
    }
    Replan(QStringLiteral("switched %1 by %2").arg(enabled ? "on" : "off", source));
}

void ChargePlan::offerJson(const QString& source, const QByteArray& payload) {
    QVector<PriceSlot> slots;
    QString reason;
    const bool parsed = ParseTariffJson(payload, &slots, &reason);
    Take(source, parsed, slots, reason);
}

void ChargePlan::CheckFile() {
    fileCheckedMs_ = clock_.monotonicMs();
    const QFileInfo info(QString::fromLatin1(kTariffFile));
    if (!info.exists() || (info.lastModified() == fileStamp_ && info.size() == fileSize_)) {
        return;
    }
    fileStamp_ = info.lastModified();
    fileSize_ = info.size();
    QFile file(info.filePath());
    QVector<PriceSlot> slots;
    QString reason;
    bool parsed = file.open(QIODevice::ReadOnly);
    if (!parsed) {
        reason = file.errorString();
    }
    parsed = parsed && ParseTariffCsv(file.readAll(), &slots, &reason);
    Take(QString::fromLatin1(kTariffFile), parsed, slots, reason);
}

void ChargePlan::Take(const QString& source, bool parsed, QVector<PriceSlot> slots, QString reason) {
    if (!settings_.enabled()) {
        return;
    }
    if (!parsed || !CheckTariff(&slots, clock_.now(), &reason)) {
        if (refused_.value(source) != reason) {
            refused_.insert(source, reason);
            log_.status(
                QStringLiteral("Charge plan: the prices from %1 are refused: %2").arg(source, reason));
            Q_EMIT changed();
        }
        return;
    }
    refused_.remove(source);
    if (SamePrices(slots, prices_)) {
        return; // the same list again, as a broker sends it on every new session
    }
    prices_ = slots;
    Replan(QStringLiteral("new prices from ") + source);
}

void ChargePlan::onReading(const Reading& reading) {
    soc_ = reading.socPercent;
    capacityKwh_ = reading.capacityKWh ? static_cast<double>(*reading.capacityKWh) : 0;
    ratedKw_ = reading.ratedBatteryW / 1000.0;
    if (!settings_.enabled() || !soc_) {
        return;
    }
    if (!socAtPlan_ || std::abs(*soc_ - *socAtPlan_) > kSocStep) {
        Replan(QStringLiteral("state of charge %1").arg(PercentText(static_cast<int>(std::lround(*soc_)))),
               !socAtPlan_.has_value());
    }
    if (retry_) {
        retry_ = false;
        attempted_ = QDateTime();
        Run();
    }
}

void ChargePlan::Tick() {
    if (!settings_.enabled()) {
        return;
    }
    // Every second while there are no prices yet (a file written just after the start), then every minute.
    if (!fileCheckedMs_ || prices_.isEmpty() || clock_.monotonicMs() - *fileCheckedMs_ >= kFileCheckMs) {
        CheckFile();
    }
    if (readyBy_.isValid() && clock_.now() >= readyBy_) {
        Replan(QStringLiteral("ready_by %1 passed").arg(WallClock(readyBy_)));
    }
    Run();
}

void ChargePlan::Replan(const QString& reason, bool sayAlways) {
    const QDateTime now = clock_.now();
    PlanInput input;
    input.prices = prices_;
    input.now = now;
    input.socPercent = soc_.value_or(0);
    input.capacityKwh = capacityKwh_;
    input.ratedKw = ratedKw_;
    for (const PlanSlot& slot : view_.slots) {
        if (slot.state != PlanSlot::Planned && slot.end.msecsTo(now) < kKeptMs) {
            input.kept.append(slot);
        }
    }
    PlanView next;
    const bool plannable = enabled_ && soc_ && capacityKwh_ > 0 && !prices_.isEmpty();
    if (!plannable) {
        next.prices = prices_;
        next.slots = input.kept;
        if (enabled_) {
            next.unmet = prices_.isEmpty()
                             ? QStringLiteral("no prices yet")
                             : QStringLiteral("the state of charge and the capacity are not known yet");
        }
    } else {
        next = MakePlan(settings_, input);
    }
    // Planned from this state of charge, or waiting for the rest: not again each cycle.
    socAtPlan_ = soc_;
    next.made = now;
    next.reason = reason;
    readyBy_ = settings_.mode == PlanSettings::Cheapest ? ReadyByAfter(settings_.readyBy, now) : QDateTime();
    const bool same = SameSlots(next.slots, view_.slots);
    view_ = next;
    // Said when it was made from all it needs, or switched off; silent while it waits for them.
    if ((sayAlways || !same) && (plannable || !enabled_)) {
        // The planned slots as spans, adjacent ones joined: "01:00-03:00, 05:00-05:15".
        QStringList spans;
        QDateTime spanEnd;
        for (const PlanSlot& slot : view_.slots) {
            if (slot.state != PlanSlot::Planned) {
                continue;
            }
            if (!spans.isEmpty() && slot.start == spanEnd) {
                spans.last().chop(5);
            } else {
                spans.append(WallClock(slot.start) + QLatin1Char('-'));
            }
            spans.last() += WallClock(slot.end);
            spanEnd = slot.end;
        }
        QString text =
            QStringLiteral("%1; %2 kWh, cost %3; %4")
                .arg(spans.isEmpty() ? QStringLiteral("no slot") : spans.join(QStringLiteral(", ")),
                     DecimalText(std::round(view_.energyKwh * 10) / 10),
                     DecimalText(std::round(view_.expectedCost * 100) / 100), reason);
        if (!view_.unmet.isEmpty()) {
            text += QStringLiteral("; target not reached: ") + view_.unmet;
        }
        log_.line(QString::fromLatin1(kPlanSource), QStringLiteral("plan"), PlanPowerKw(settings_, ratedKw_),
                  settings_.targetSoc, text);
    }
    Q_EMIT changed();
    Run();
}

void ChargePlan::Run() {
    const QDateTime now = clock_.now();
    if (!enabled_ || !charge_.firstReadBackDone() || charge_.state().active ||
        (retry_ && attempted_.isValid())) {
        return; // a charge runs (this plan's, an earlier run's, or one it makes way for)
    }
    const auto current = std::find_if(view_.slots.begin(), view_.slots.end(), [&](const PlanSlot& slot) {
        return slot.state == PlanSlot::Planned && slot.start <= now && now < slot.end;
    });
    if (current == view_.slots.end() || attempted_ == current->start) {
        return;
    }
    // Adjacent slots run as one charge: no 0 W between them.
    QDateTime end = current->end;
    for (auto next = current + 1; next != view_.slots.end() && next->start == end; ++next) {
        end = next->end;
    }
    ChargeRequest request;
    request.source = QString::fromLatin1(kPlanSource);
    request.powerKw = PlanPowerKw(settings_, ratedKw_);
    request.targetSoc = settings_.targetSoc;
    attempted_ = current->start;
    const ChargeStartResult result = charge_.start(request, end);
    retry_ = !result.accepted && Transient(result.reason);
}

void ChargePlan::ChargeChanged() {
    const ChargeState state = charge_.state();
    const bool ours = state.active && state.source == QLatin1String(kPlanSource);
    if (ours == running_) {
        return;
    }
    running_ = ours;
    const QDateTime now = clock_.now();
    // The slots the charge covers, up to its end (or this moment, for one without an end).
    const QDateTime until = state.endsAt.isValid() ? state.endsAt : now.addSecs(1);
    for (PlanSlot& slot : view_.slots) {
        if (ours && slot.state == PlanSlot::Planned && slot.end > now && slot.start < until) {
            slot.state = PlanSlot::Running;
        } else if (!ours && slot.state == PlanSlot::Running) {
            slot.state = PlanSlot::Ran;
        }
    }
    if (!ours && state.active) {
        log_.status(
            QStringLiteral("Charge plan: its slot was replaced by a start from %1 and is not started again")
                .arg(state.source));
    }
    Q_EMIT changed();
}

#include "controls/charge_planner.h"

#include "controls/charge_window.h"
#include "controls/control_log.h"
#include "support/text_forms.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kMsPerHour = 3600000.0;

bool Overlaps(const QDateTime& start, const QDateTime& end, const PlanSlot& slot) {
    return start < slot.end && slot.start < end;
}

QString KwhText(double kwh) {
    return DecimalText(std::round(kwh * 10) / 10) + QStringLiteral(" kWh");
}

} // namespace

QDateTime ReadyByAfter(const QTime& readyBy, const QDateTime& now) {
    const QDateTime local = now.toLocalTime();
    QDateTime at = WallTime(local.date(), readyBy);
    if (at <= now) {
        at = WallTime(local.date().addDays(1), readyBy);
    }
    return at;
}

double PlanPowerKw(const PlanSettings& settings, double ratedKw) {
    if (!settings.powerKw) {
        return ratedKw;
    }
    return ratedKw > 0 ? std::min(*settings.powerKw, ratedKw) : *settings.powerKw;
}

PlanView MakePlan(const PlanSettings& settings, const PlanInput& input) {
    PlanView view;
    view.prices = input.prices;
    view.slots = input.kept;
    const double power = PlanPowerKw(settings, input.ratedKw);
    const double efficiency = settings.efficiency;
    const QDateTime& now = input.now;
    // The energy a span delivers into the battery, and what it costs from the grid.
    const auto add = [&](const QDateTime& from, const QDateTime& to, double price) {
        const double kwh =
            std::max<qint64>(0, std::max(from, now).msecsTo(to)) / kMsPerHour * power * efficiency;
        view.energyKwh += kwh;
        view.expectedCost += kwh / efficiency * price;
        return kwh;
    };
    double needed = input.capacityKwh * (settings.targetSoc - input.socPercent) / 100.0;
    for (const PlanSlot& slot : input.kept) {
        if (slot.state == PlanSlot::Running) {
            needed -= add(slot.start, slot.end, slot.price);
        }
    }
    if (needed <= 0) {
        return view;
    }
    if (!(power > 0)) {
        view.unmet = QStringLiteral("the rated battery power is not known yet");
        return view;
    }
    const bool cheapest = settings.mode == PlanSettings::Cheapest;
    const QDateTime deadline = cheapest ? ReadyByAfter(settings.readyBy, now) : QDateTime();
    const std::optional<double> limit =
        cheapest ? settings.maxPrice : std::optional<double>(settings.priceLimit);
    QVector<PlanSlot> candidates;
    bool priced = false; // a slot in time was left out for its price
    for (const PriceSlot& price : input.prices) {
        const QDateTime end = deadline.isValid() ? std::min(price.end, deadline) : price.end;
        if (end <= now || end <= price.start ||
            std::any_of(input.kept.begin(), input.kept.end(),
                        [&](const PlanSlot& kept) { return Overlaps(price.start, end, kept); })) {
            continue;
        }
        if (limit && price.price > *limit) {
            priced = true;
            continue;
        }
        candidates.append(PlanSlot{price.start, end, price.price, PlanSlot::Planned});
    }
    if (cheapest) {
        std::stable_sort(candidates.begin(), candidates.end(),
                         [](const PlanSlot& a, const PlanSlot& b) { return a.price < b.price; });
    }
    for (const PlanSlot& slot : candidates) {
        if (needed <= 1e-9) {
            break;
        }
        needed -= add(slot.start, slot.end, slot.price);
        view.slots.append(slot);
    }
    std::sort(view.slots.begin(), view.slots.end(),
              [](const PlanSlot& a, const PlanSlot& b) { return a.start < b.start; });
    if (needed > 0.05) {
        const QString left = KwhText(needed);
        if (!cheapest) {
            view.unmet = QStringLiteral("the slots at or below price_limit %1 leave %2 short of %3")
                             .arg(DecimalText(settings.priceLimit), left, PercentText(settings.targetSoc));
        } else if (priced) {
            view.unmet = QStringLiteral("max_price %1 leaves %2 short of %3 by %4")
                             .arg(DecimalText(*settings.maxPrice), left, PercentText(settings.targetSoc),
                                  deadline.toLocalTime().toString(QStringLiteral("HH:mm")));
        } else {
            view.unmet = QStringLiteral("the known prices before %1 leave %2 short of %3")
                             .arg(deadline.toLocalTime().toString(QStringLiteral("HH:mm")), left,
                                  PercentText(settings.targetSoc));
        }
    }
    return view;
}

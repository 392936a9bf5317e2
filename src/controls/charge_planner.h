#pragma once

#include "controls/plan_settings.h"
#include "controls/price_plan.h"

#include <QDateTime>
#include <QVector>

// What a plan is made from. Times are instants: a day of 23 or 25 hours is just its slots.
struct PlanInput {
    QVector<PriceSlot> prices;
    QDateTime now;
    double socPercent = 0;
    double capacityKwh = 0;
    double ratedKw = 0; // 0: not known
    // Slots that ran or run now: kept as they are and never chosen again.
    QVector<PlanSlot> kept;
};

// The first instant of ready_by's wall time after now (a skipped hour moves it to the first valid
// minute after it).
QDateTime ReadyByAfter(const QTime& readyBy, const QDateTime& now);

// The charge power of the plan: the one set, never above the rated battery power.
double PlanPowerKw(const PlanSettings& settings, double ratedKw);

// The energy the battery needs is its capacity times the missing state of charge; a slot delivers
// the power times its remaining length times the efficiency. "cheapest" takes the cheapest slots
// before ready_by, "below" every slot at or below the limit in time order, each until the energy
// is there. The view's made and reason are the caller's.
PlanView MakePlan(const PlanSettings& settings, const PlanInput& input);

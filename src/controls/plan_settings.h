#pragma once

#include <QString>
#include <QTime>
#include <optional>

class QSettings;

// How the [charge] section asks for a plan from the day's prices: "cheapest" takes the cheapest
// slots before ready_by that reach target_soc, never one above max_price; "below" charges in every
// slot at or below price_limit until target_soc.
struct PlanSettings {
    enum Mode { Off, Cheapest, Below };
    Mode mode = Off;
    QTime readyBy;
    int targetSoc = 100;
    std::optional<double> maxPrice;
    double priceLimit = 0;
    double efficiency = 0.9;
    std::optional<double> powerKw; // none: the rated battery power

    bool enabled() const { return mode != Off; }
    bool operator==(const PlanSettings& o) const;
    bool operator!=(const PlanSettings& o) const { return !(*this == o); }
};

// The plan's keys of [charge] (plan, ready_by, target_soc, max_price, price_limit, efficiency,
// power), conf inside that group. No "plan" key: Off. False with a one-line reason.
bool ReadPlanSettings(QSettings& conf, PlanSettings* settings, QString* error);

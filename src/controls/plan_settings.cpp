#include "controls/plan_settings.h"

#include "support/text_forms.h"

#include <QSettings>

bool PlanSettings::operator==(const PlanSettings& o) const {
    return mode == o.mode && readyBy == o.readyBy && targetSoc == o.targetSoc && maxPrice == o.maxPrice &&
           priceLimit == o.priceLimit && efficiency == o.efficiency && powerKw == o.powerKw;
}

bool ReadPlanSettings(QSettings& conf, PlanSettings* settings, QString* error) {
    *settings = PlanSettings();
    const auto text = [&conf](const char* key) {
        return conf.value(QLatin1String(key)).toString().trimmed();
    };
    const QString mode = text("plan");
    if (mode.isEmpty()) {
        return true;
    }
    const auto fail = [error](const QString& reason) {
        *error = QStringLiteral("[charge] ") + reason;
        return false;
    };
    // An optional number; false when it is there and not a number in [low, high].
    const auto number = [&text](const char* key, double low, double high, std::optional<double>* out) {
        const QString value = text(key);
        double parsed = 0;
        if (value.isEmpty()) {
            return true;
        }
        if (!ParseNumber(value, &parsed) || parsed < low || parsed > high) {
            return false;
        }
        *out = parsed;
        return true;
    };
    if (mode == QLatin1String("cheapest")) {
        settings->mode = PlanSettings::Cheapest;
        settings->readyBy = QTime::fromString(text("ready_by"), QStringLiteral("H:mm"));
        if (!settings->readyBy.isValid()) {
            return fail(QStringLiteral("plan = cheapest needs ready_by as HH:MM, a local time"));
        }
    } else if (mode == QLatin1String("below")) {
        settings->mode = PlanSettings::Below;
        std::optional<double> limit;
        if (!number("price_limit", -1e6, 1e6, &limit) || !limit) {
            return fail(QStringLiteral("plan = below needs price_limit, a price per kWh"));
        }
        settings->priceLimit = *limit;
    } else {
        return fail(QStringLiteral("plan must be cheapest or below (not \"%1\")").arg(mode.left(40)));
    }
    std::optional<double> target;
    std::optional<double> efficiency;
    if (!number("target_soc", 1, 100, &target) || (target && *target != RoundHalfEven(*target))) {
        return fail(QStringLiteral("target_soc must be a whole percentage from 1 to 100"));
    }
    if (!number("max_price", -1e6, 1e6, &settings->maxPrice)) {
        return fail(QStringLiteral("max_price must be a price per kWh"));
    }
    if (!number("efficiency", 0.1, 1, &efficiency)) {
        return fail(QStringLiteral("efficiency must be a number from 0.1 to 1"));
    }
    if (!number("power", 0.001, 65.535, &settings->powerKw)) {
        return fail(QStringLiteral("power must be a number of kW from 0.001 to 65.535"));
    }
    settings->targetSoc = target ? static_cast<int>(*target) : 100;
    settings->efficiency = efficiency.value_or(0.9);
    return true;
}

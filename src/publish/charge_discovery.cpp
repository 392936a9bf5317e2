#include "publish/charge_discovery.h"

#include <algorithm>

namespace {

constexpr double kMostKw = 65.535;

QJsonObject Number(const QString& prefix, const char* leaf, const char* name, const char* unit,
                   const char* deviceClass, double min, double max, double step) {
    const QString topic = prefix + QLatin1String(leaf);
    QJsonObject config;
    config.insert(QLatin1String("name"), QLatin1String(name));
    config.insert(QLatin1String("unit_of_measurement"), QLatin1String(unit));
    config.insert(QLatin1String("device_class"), QLatin1String(deviceClass));
    config.insert(QLatin1String("min"), min);
    config.insert(QLatin1String("max"), max);
    config.insert(QLatin1String("step"), step);
    config.insert(QLatin1String("mode"), QStringLiteral("box"));
    config.insert(QLatin1String("entity_category"), QStringLiteral("config"));
    // Retained on the broker, the setting outlives a restart of either side; the same topic
    // carries it back to Home Assistant as the number's state.
    config.insert(QLatin1String("command_topic"), topic);
    config.insert(QLatin1String("state_topic"), topic);
    config.insert(QLatin1String("retain"), true);
    return config;
}

QJsonObject Button(const QString& prefix, const char* leaf, const char* name) {
    QJsonObject config;
    config.insert(QLatin1String("name"), QLatin1String(name));
    config.insert(QLatin1String("command_topic"), prefix + QLatin1String(leaf));
    config.insert(QLatin1String("payload_press"), QStringLiteral("PRESS"));
    config.insert(QLatin1String("retain"), false);
    // Pressed while the client is away, it would do nothing: shown unavailable then.
    config.insert(QLatin1String("availability_topic"), prefix + QStringLiteral("/availability"));
    return config;
}

QJsonObject PlanSensor(const QString& prefix, const char* name, const QString& value) {
    QJsonObject config;
    config.insert(QLatin1String("name"), QLatin1String(name));
    config.insert(QLatin1String("state_topic"), prefix + QLatin1String(charge_topic::kPlan));
    config.insert(QLatin1String("value_template"), value);
    config.insert(QLatin1String("availability_topic"), prefix + QStringLiteral("/availability"));
    return config;
}

} // namespace

QList<EntityConfig> ChargeEntityConfigs(const QString& prefix, double ratedWatts) {
    const double maxKw = ratedWatts > 0 ? std::min(ratedWatts / 1000.0, kMostKw) : kMostKw;
    QJsonObject state;
    state.insert(QLatin1String("name"), QStringLiteral("Managed charge"));
    state.insert(QLatin1String("state_topic"), prefix + QLatin1String(charge_topic::kState));
    // "ending" until the installation reads back 0 W: never "idle" while it may still charge.
    state.insert(QLatin1String("value_template"),
                 QStringLiteral("{{ 'charging' if value_json.active else ('ending' if value_json.state == "
                                "'ending' else ('charging, not started here' if value_json.not_started_here "
                                "else 'idle')) }}"));
    state.insert(QLatin1String("availability_topic"), prefix + QStringLiteral("/availability"));
    state.insert(QLatin1String("json_attributes_topic"), prefix + QLatin1String(charge_topic::kState));
    state.insert(QLatin1String("icon"), QStringLiteral("mdi:battery-charging"));
    // "None" is Home Assistant's word for no value: no slot planned.
    QJsonObject next =
        PlanSensor(prefix, "Next charge slot", QStringLiteral("{{ value_json.next_start or None }}"));
    next.insert(QLatin1String("device_class"), QStringLiteral("timestamp"));
    next.insert(QLatin1String("json_attributes_topic"), prefix + QLatin1String(charge_topic::kPlan));
    QJsonObject cost =
        PlanSensor(prefix, "Planned charge cost", QStringLiteral("{{ value_json.expected_cost }}"));
    cost.insert(QLatin1String("suggested_display_precision"), 2);
    // A setting kept retained on the broker, like the numbers: it outlives a restart of either side.
    QJsonObject onOff;
    onOff.insert(QLatin1String("name"), QStringLiteral("Charge plan"));
    onOff.insert(QLatin1String("command_topic"), prefix + QLatin1String(charge_topic::kPlanSet));
    onOff.insert(QLatin1String("state_topic"), prefix + QLatin1String(charge_topic::kPlan));
    onOff.insert(QLatin1String("value_template"),
                 QStringLiteral("{{ 'ON' if value_json.enabled else 'OFF' }}"));
    onOff.insert(QLatin1String("retain"), true);
    onOff.insert(QLatin1String("availability_topic"), prefix + QStringLiteral("/availability"));
    return {
        {"number", "charge_power",
         Number(prefix, charge_topic::kPower, "Charge power", "kW", "power", 0, maxKw, 0.1)},
        {"number", "charge_minutes",
         Number(prefix, charge_topic::kMinutes, "Charge minutes", "min", "duration", 1, 720, 1)},
        {"number", "charge_target",
         Number(prefix, charge_topic::kTarget, "Charge target", "%", "battery", 0, 100, 1)},
        {"button", "charge_start", Button(prefix, charge_topic::kStart, "Start charge")},
        {"button", "charge_stop", Button(prefix, charge_topic::kStop, "Stop charge")},
        {"sensor", "charge_state", state},
        {"sensor", "charge_plan_next", next},
        {"sensor", "charge_plan_cost", cost},
        {"switch", "charge_plan", onOff},
    };
}

#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

// The topics under the prefix that drive a managed charge from the broker.
namespace charge_topic {
inline constexpr char kSet[] = "/charge/set";
inline constexpr char kStop[] = "/charge/stop";
inline constexpr char kStart[] = "/charge/start";
inline constexpr char kState[] = "/charge/state";
// The numbers' settings, kept retained on the broker by Home Assistant; the start button uses them.
inline constexpr char kPower[] = "/charge/power_kw";
inline constexpr char kMinutes[] = "/charge/minutes";
inline constexpr char kTarget[] = "/charge/target_soc";
// The charge plan (retained), its switch, and the day's prices it is made from.
inline constexpr char kPlan[] = "/charge/plan";
inline constexpr char kPlanSet[] = "/charge/plan/set";
inline constexpr char kTariff[] = "/tariff";
} // namespace charge_topic

struct EntityConfig {
    const char* component;
    const char* key;
    QJsonObject config; // without the ids and the device, which every entity shares
};

// Home Assistant's entities for a managed charge: numbers for the power (0 up to the rated battery
// power, 65.535 kW while it is not known), the minutes and the target, buttons to start and to
// stop, and a sensor for its state; the plan's next slot, its cost and its switch.
QList<EntityConfig> ChargeEntityConfigs(const QString& prefix, double ratedWatts);

#include "publish/discovery.h"

#include "model/reading.h"
#include "publish/charge_discovery.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

namespace {

struct Sensor {
    const char* key;
    const char* name;
    const char* deviceClass;
    const char* stateClass; // null: no long-term statistics
    const char* unit;
    bool diagnostic;
    int precision; // suggested decimals; -1: none (a timestamp)
};

// The published figures with how Home Assistant should show them, named for what their registers
// hold. The counters only grow, and a day's drop at midnight starts a new cycle; the rated powers
// and the capacity are the installation's data, not measurements.
const Sensor kSensors[] = {
    {"soc", "State of charge", "battery", "measurement", "%", false, 0},
    {"pv_charge_power", "PV charge power", "power", "measurement", "W", false, 0},
    {"pv_discharge_power", "PV discharge power", "power", "measurement", "W", false, 0},
    {"grid_charge_power", "Grid charge power", "power", "measurement", "W", false, 0},
    {"grid_discharge_power", "Grid discharge power", "power", "measurement", "W", false, 0},
    {"level_kwh", "Battery level", "energy_storage", "measurement", "kWh", false, 2},
    {"pv_charge_today", "PV charge today", "energy", "total_increasing", "kWh", false, 2},
    {"pv_discharge_today", "PV discharge today", "energy", "total_increasing", "kWh", false, 2},
    {"grid_charge_today", "Grid charge today", "energy", "total_increasing", "kWh", false, 2},
    {"grid_discharge_today", "Grid discharge today", "energy", "total_increasing", "kWh", false, 2},
    {"pv_charge_total", "PV charge lifetime", "energy", "total_increasing", "kWh", false, 1},
    {"pv_discharge_total", "PV discharge lifetime", "energy", "total_increasing", "kWh", false, 1},
    {"grid_charge_total", "Grid charge lifetime", "energy", "total_increasing", "kWh", false, 1},
    {"grid_discharge_total", "Grid discharge lifetime", "energy", "total_increasing", "kWh", false, 1},
    {"rated_battery_power", "Rated battery power", "power", nullptr, "W", true, 0},
    {"rated_pv_power", "Rated PV power", "power", nullptr, "W", true, 0},
    {"capacity_kwh", "Battery capacity", "energy_storage", nullptr, "kWh", true, 1},
    {"time", "Last complete poll", "timestamp", nullptr, nullptr, true, -1},
};

// Every figure earlier versions configured, under the serial as they wrote it.
const char* const kEarlierKeys[] = {"soc",
                                    "battery_power",
                                    "pv_power",
                                    "grid_power",
                                    "rated_pv_power",
                                    "level_kwh",
                                    "capacity_kwh",
                                    "pv_charge_today",
                                    "pv_discharge_today",
                                    "grid_charge_today",
                                    "grid_discharge_today",
                                    "pv_charge_total",
                                    "pv_discharge_total",
                                    "grid_charge_total",
                                    "grid_discharge_total",
                                    "time"};

QByteArray ConfigTopic(const char* component, const QString& serial, const QString& key) {
    return QStringLiteral("homeassistant/%1/%2/%3/config")
        .arg(QLatin1String(component), serial, key)
        .toUtf8();
}

} // namespace

DeviceIdentityTexts DeviceTexts(const Reading& reading) {
    return {reading.serial, reading.hardware, reading.firmware};
}

QList<MqttMessage> DiscoveryMessages(const Reading& reading, const QString& prefix, int expireAfterSeconds,
                                     bool control) {
    const QString serial = TopicSerial(reading.serial);
    QJsonObject device;
    device.insert(QLatin1String("identifiers"), QJsonArray{QStringLiteral("modbusclient_") + serial});
    device.insert(QLatin1String("name"), QStringLiteral("Home battery ") + Printable(reading.serial));
    device.insert(QLatin1String("manufacturer"), QStringLiteral("Talvex"));
    device.insert(QLatin1String("model"), QStringLiteral("Battery inverter"));
    device.insert(QLatin1String("serial_number"), Printable(reading.serial));
    device.insert(QLatin1String("sw_version"), Printable(reading.firmware));
    device.insert(QLatin1String("hw_version"), Printable(reading.hardware));
    QJsonObject origin;
    origin.insert(QLatin1String("name"), QStringLiteral("ModbusClient"));
    origin.insert(QLatin1String("sw_version"), QStringLiteral(MODBUSCLIENT_VERSION_TEXT));

    const QString stateTopic = prefix + QStringLiteral("/state");
    const QString availabilityTopic = prefix + QStringLiteral("/availability");
    const QString errorsTopic = prefix + QStringLiteral("/errors");
    QList<MqttMessage> messages;
    const auto add = [&](const char* component, const QString& key, QJsonObject config) {
        config.insert(QLatin1String("unique_id"), QStringLiteral("modbusclient_%1_%2").arg(serial, key));
        config.insert(QLatin1String("device"), device);
        config.insert(QLatin1String("origin"), origin);
        messages.append(
            {ConfigTopic(component, serial, key), QJsonDocument(config).toJson(QJsonDocument::Compact)});
    };
    const auto text = [](const char* s) { return QJsonValue(QLatin1String(s)); };
    for (const Sensor& sensor : kSensors) {
        const QString key = QLatin1String(sensor.key);
        QJsonObject config;
        config.insert(QLatin1String("name"), text(sensor.name));
        config.insert(QLatin1String("device_class"), text(sensor.deviceClass));
        if (sensor.stateClass != nullptr) {
            config.insert(QLatin1String("state_class"), text(sensor.stateClass));
        }
        if (sensor.unit != nullptr) {
            config.insert(QLatin1String("unit_of_measurement"), text(sensor.unit));
        }
        if (sensor.diagnostic) {
            config.insert(QLatin1String("entity_category"), QStringLiteral("diagnostic"));
        }
        if (sensor.precision >= 0) {
            config.insert(QLatin1String("suggested_display_precision"), sensor.precision);
        }
        config.insert(QLatin1String("state_topic"), stateTopic);
        config.insert(QLatin1String("value_template"), QStringLiteral("{{ value_json.%1 }}").arg(key));
        config.insert(QLatin1String("availability_topic"), availabilityTopic);
        config.insert(QLatin1String("expire_after"), expireAfterSeconds);
        add("sensor", key, config);
    }

    // The link delivers figures while the availability says so; the client's own last will
    // turns it off too.
    QJsonObject link;
    link.insert(QLatin1String("name"), QStringLiteral("Installation link"));
    link.insert(QLatin1String("device_class"), QStringLiteral("connectivity"));
    link.insert(QLatin1String("entity_category"), QStringLiteral("diagnostic"));
    link.insert(QLatin1String("state_topic"), availabilityTopic);
    link.insert(QLatin1String("payload_on"), QStringLiteral("online"));
    link.insert(QLatin1String("payload_off"), QStringLiteral("offline"));
    add("binary_sensor", QStringLiteral("link"), link);

    // Shown while polling fails too, when it matters most: no availability.
    QJsonObject errors;
    errors.insert(QLatin1String("name"), QStringLiteral("Error-log entries since start"));
    errors.insert(QLatin1String("entity_category"), QStringLiteral("diagnostic"));
    errors.insert(QLatin1String("state_topic"), errorsTopic);
    errors.insert(QLatin1String("value_template"), QStringLiteral("{{ value_json.count }}"));
    errors.insert(QLatin1String("json_attributes_topic"), errorsTopic);
    errors.insert(QLatin1String("json_attributes_template"),
                  QStringLiteral("{{ {'last_entry': value_json.last_entry} | tojson }}"));
    add("sensor", QStringLiteral("errors"), errors);
    if (control) {
        for (const EntityConfig& entity :
             ChargeEntityConfigs(prefix, static_cast<double>(reading.ratedBatteryW))) {
            add(entity.component, QLatin1String(entity.key), entity.config);
        }
    }
    return messages;
}

QList<QByteArray> RetiredConfigTopics(const Reading& reading, bool control) {
    QSet<QByteArray> current;
    for (const MqttMessage& message : DiscoveryMessages(reading, QString(), 0, control)) {
        current.insert(message.topic);
    }
    QList<QByteArray> retired;
    if (!control) {
        for (const EntityConfig& entity : ChargeEntityConfigs(QString(), 0)) {
            retired.append(
                ConfigTopic(entity.component, TopicSerial(reading.serial), QLatin1String(entity.key)));
        }
    }
    for (const char* key : kEarlierKeys) {
        const QByteArray topic = ConfigTopic("sensor", PlainTopicSerial(reading.serial), QLatin1String(key));
        if (!current.contains(topic)) {
            retired.append(topic);
        }
    }
    return retired;
}

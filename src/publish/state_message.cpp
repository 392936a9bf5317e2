#include "publish/state_message.h"

#include "model/form.h"
#include "support/text_forms.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <charconv>

namespace {

struct Sensor {
    const char* key;
    const char* name;
    const char* deviceClass;
    const char* stateClass;
    const char* unit;
};

// The published figures with how Home Assistant should show them. Lifetime counters only ever
// grow; the day's counters start again at midnight and may go below zero, so they are totals.
const Sensor kSensors[] = {
    {"soc", "State of charge", "battery", "measurement", "%"},
    {"battery_power", "Battery power (rated)", "power", "measurement", "W"},
    {"pv_power", "PV power", "power", "measurement", "W"},
    {"grid_power", "Grid power", "power", "measurement", "W"},
    {"rated_pv_power", "PV power (rated)", "power", "measurement", "W"},
    {"level_kwh", "Battery level", "energy_storage", "measurement", "kWh"},
    {"capacity_kwh", "Battery capacity", "energy_storage", "measurement", "kWh"},
    {"pv_charge_today", "PV charge today", "energy", "total", "kWh"},
    {"pv_discharge_today", "PV discharge today", "energy", "total", "kWh"},
    {"grid_charge_today", "Grid charge today", "energy", "total", "kWh"},
    {"grid_discharge_today", "Grid discharge today", "energy", "total", "kWh"},
    {"pv_charge_total", "PV charge lifetime", "energy", "total_increasing", "kWh"},
    {"pv_discharge_total", "PV discharge lifetime", "energy", "total_increasing", "kWh"},
    {"grid_charge_total", "Grid charge lifetime", "energy", "total_increasing", "kWh"},
    {"grid_discharge_total", "Grid discharge lifetime", "energy", "total_increasing", "kWh"},
};

// The identity texts hold the registers' characters as they stand, zero bytes and padding too.
QString Printable(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() >= 0x20 && c.unicode() != 0x7f) {
            out += c;
        }
    }
    return out.trimmed();
}

// The window shows the rated battery power grouped with its unit ("5,000 W"); its digits are
// the whole number.
double WholeNumber(const QString& grouped) {
    QString digits;
    for (const QChar c : grouped) {
        if (c.isDigit()) {
            digits += c;
        }
    }
    return digits.toDouble();
}

// Printable text: only the quote and the backslash need escaping.
void AppendJsonString(QByteArray& json, const QString& text) {
    json += '"';
    for (const char c : text.toUtf8()) {
        if (c == '"' || c == '\\') {
            json += '\\';
        }
        json += c;
    }
    json += '"';
}

// ISO 8601 with the offset from UTC, the form Home Assistant's timestamps read.
QString IsoTime(const QDateTime& t) {
    const QDate d = t.date();
    const QTime h = t.time();
    const int offset = t.offsetFromUtc() / 60;
    const int magnitude = offset < 0 ? -offset : offset;
    return QString::asprintf("%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", d.year(), d.month(), d.day(),
                             h.hour(), h.minute(), h.second(), offset < 0 ? '-' : '+', magnitude / 60,
                             magnitude % 60);
}

// The figures are the decoders' decimal texts ("5836.8", "1E+15"). Read without a locale
// object, as that is most of the cost of a cycle; any other text is read as the decoders read it.
double Number(const QString& text) {
    char digits[40];
    int n = 0;
    for (const QChar c : text) {
        if (n == static_cast<int>(sizeof digits) || c.unicode() > 0x7f) {
            break;
        }
        digits[n++] = static_cast<char>(c.unicode());
    }
    double value = 0;
    const auto [end, error] = std::from_chars(digits, digits + n, value);
    if (error != std::errc() || end != digits + n) {
        return LeadingNumber(text);
    }
    return value;
}

double Signed(const QString& negativePart, const QString& positivePart) {
    return Number(positivePart) - Number(negativePart);
}

} // namespace

QString TopicSerial(const Form& form) {
    QString serial;
    for (const QChar c : Printable(form.SNum)) {
        const bool plain = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                           (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                           (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-');
        serial += plain ? c : QLatin1Char('_');
    }
    return serial.isEmpty() ? QStringLiteral("unknown") : serial;
}

QString DefaultTopicPrefix(const Form& form) {
    return QStringLiteral("modbusclient/") + TopicSerial(form);
}

QByteArray StateJson(const Form& form, const QDateTime& pollTime) {
    // Written by hand rather than through a JSON object: this runs every cycle and the object's
    // keyed inserts cost more than the whole rest of the publish path.
    const std::pair<const char*, double> numbers[] = {
        {"soc", Number(form.BatteryPercent)},
        {"battery_power", WholeNumber(form.BatteryPower)},
        {"pv_power", Signed(form.PVCharge, form.PVDischarge)},
        {"grid_power", Signed(form.GridCharge, form.GridDischarge)},
        {"rated_pv_power", Number(form.PVPower)},
        {"level_kwh", Number(form.CurrentLevelKWh)},
        {"capacity_kwh", Number(form.BatterySize)},
        {"pv_charge_today", Number(form.PVChargeToday)},
        {"pv_discharge_today", Number(form.PVDischargeToday)},
        {"grid_charge_today", Number(form.GridChargeToday)},
        {"grid_discharge_today", Number(form.GridDischargeToday)},
        {"pv_charge_total", Number(form.PVChargeLife)},
        {"pv_discharge_total", Number(form.PVDischargeLife)},
        {"grid_charge_total", Number(form.GridChargeLife)},
        {"grid_discharge_total", Number(form.GridDischargeLife)},
    };
    QByteArray json;
    json.reserve(640);
    json += '{';
    for (const auto& [key, value] : numbers) {
        json += '"';
        json += key;
        json += "\":";
        json += qIsFinite(value) ? QByteArray::number(value, 'g', QLocale::FloatingPointShortest) : "null";
        json += ',';
    }
    json += "\"serial\":";
    AppendJsonString(json, Printable(form.SNum));
    json += ",\"firmware\":";
    AppendJsonString(json, Printable(form.FW));
    json += ",\"time\":";
    AppendJsonString(json, IsoTime(pollTime));
    json += '}';
    return json;
}

DeviceIdentityTexts DeviceTexts(const Form& form) {
    return {form.SNum, form.HW, form.FW};
}

QList<MqttMessage> DiscoveryMessages(const Form& form, const QString& prefix) {
    const QString serial = TopicSerial(form);
    QJsonObject device;
    device.insert(QLatin1String("identifiers"), QJsonArray{QStringLiteral("modbusclient_") + serial});
    device.insert(QLatin1String("name"), QStringLiteral("Home battery ") + Printable(form.SNum));
    device.insert(QLatin1String("manufacturer"), QStringLiteral("Talvex"));
    device.insert(QLatin1String("model"), QStringLiteral("Battery inverter"));
    device.insert(QLatin1String("sw_version"), Printable(form.FW));
    device.insert(QLatin1String("hw_version"), Printable(form.HW));

    const QString stateTopic = prefix + QStringLiteral("/state");
    const QString availabilityTopic = prefix + QStringLiteral("/availability");
    QList<MqttMessage> messages;
    const auto add = [&](const QString& key, QJsonObject config) {
        config.insert(QLatin1String("unique_id"), QStringLiteral("modbusclient_%1_%2").arg(serial, key));
        config.insert(QLatin1String("state_topic"), stateTopic);
        config.insert(QLatin1String("value_template"), QStringLiteral("{{ value_json.%1 }}").arg(key));
        config.insert(QLatin1String("availability_topic"), availabilityTopic);
        config.insert(QLatin1String("device"), device);
        messages.append({QStringLiteral("homeassistant/sensor/%1/%2/config").arg(serial, key).toUtf8(),
                         QJsonDocument(config).toJson(QJsonDocument::Compact)});
    };
    for (const Sensor& sensor : kSensors) {
        QJsonObject config;
        config.insert(QLatin1String("name"), QLatin1String(sensor.name));
        config.insert(QLatin1String("device_class"), QLatin1String(sensor.deviceClass));
        config.insert(QLatin1String("state_class"), QLatin1String(sensor.stateClass));
        config.insert(QLatin1String("unit_of_measurement"), QLatin1String(sensor.unit));
        add(QLatin1String(sensor.key), config);
    }
    QJsonObject polled;
    polled.insert(QLatin1String("name"), QStringLiteral("Last poll"));
    polled.insert(QLatin1String("device_class"), QStringLiteral("timestamp"));
    add(QStringLiteral("time"), polled);
    return messages;
}

#include "publish/state_message.h"

#include "model/reading.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>

QString Printable(const QString& text) {
    // The identity texts hold the registers' characters as they stand, zero bytes and padding too.
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() >= 0x20 && c.unicode() != 0x7f) {
            out += c;
        }
    }
    return out.trimmed();
}

QString IsoTime(const QDateTime& t) {
    // With its offset written out, "+00:00" included, as the time of day Home Assistant shows.
    const QDateTime local = t.toOffsetFromUtc(t.offsetFromUtc());
    QString text = local.toString(Qt::ISODate);
    if (text.endsWith(QLatin1Char('Z'))) {
        text.chop(1);
        text += QStringLiteral("+00:00");
    }
    return text;
}

QString PlainTopicSerial(const QString& serialText) {
    QString serial;
    for (const QChar c : Printable(serialText)) {
        const bool plain = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                           (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                           (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-');
        serial += plain ? c : QLatin1Char('_');
    }
    return serial.isEmpty() ? QStringLiteral("unknown") : serial;
}

QString TopicSerial(const QString& serialText) {
    QString serial = PlainTopicSerial(serialText);
    const QString printable = Printable(serialText);
    if (serial == printable || printable.isEmpty()) {
        return serial;
    }
    // Characters were replaced: "TX/2026 0042" and "TX 2026/0042" must stay two devices.
    const QByteArray hash = QCryptographicHash::hash(printable.toUtf8(), QCryptographicHash::Sha1);
    return serial + QLatin1Char('_') + QString::fromLatin1(hash.left(4).toHex());
}

QString DefaultTopicPrefix(const QString& serial) {
    return QStringLiteral("modbusclient/") + TopicSerial(serial);
}

QByteArray StateJson(const Reading& r, bool deviceCountsKwh) {
    // Divided rather than multiplied by 0.001, so that 4390788 Wh reads 4390.788 and not
    // 4390.7880000000005. The capacity register counts kWh, as the window shows it.
    const double perKwh = deviceCountsKwh ? 1.0 : 1000.0;
    // A day's counter is unknown until a night snapshot has given the day its start, and never
    // below zero (a counter that went back).
    const auto today = [&](Reading::Counter c) {
        const std::optional<double>& value = r.today[c];
        return value && *value >= 0 ? QJsonValue(*value / perKwh) : QJsonValue();
    };
    const auto figure = [](const auto& value) {
        return value ? QJsonValue(static_cast<double>(*value)) : QJsonValue();
    };
    QJsonObject json;
    json.insert(QLatin1String("soc"), figure(r.socPercent));
    json.insert(QLatin1String("pv_charge_power"), static_cast<qint64>(r.pvChargeW));
    json.insert(QLatin1String("pv_discharge_power"), static_cast<qint64>(r.pvDischargeW));
    json.insert(QLatin1String("grid_charge_power"), static_cast<qint64>(r.gridChargeW));
    json.insert(QLatin1String("grid_discharge_power"), static_cast<qint64>(r.gridDischargeW));
    json.insert(QLatin1String("rated_battery_power"), static_cast<qint64>(r.ratedBatteryW));
    json.insert(QLatin1String("rated_pv_power"), static_cast<qint64>(r.ratedPvW));
    json.insert(QLatin1String("level_kwh"), figure(r.levelKWh));
    json.insert(QLatin1String("capacity_kwh"), figure(r.capacityKWh));
    json.insert(QLatin1String("pv_charge_today"), today(Reading::PvCharge));
    json.insert(QLatin1String("pv_discharge_today"), today(Reading::PvDischarge));
    json.insert(QLatin1String("grid_charge_today"), today(Reading::GridCharge));
    json.insert(QLatin1String("grid_discharge_today"), today(Reading::GridDischarge));
    json.insert(QLatin1String("pv_charge_total"), r.lifetime[Reading::PvCharge] / perKwh);
    json.insert(QLatin1String("pv_discharge_total"), r.lifetime[Reading::PvDischarge] / perKwh);
    json.insert(QLatin1String("grid_charge_total"), r.lifetime[Reading::GridCharge] / perKwh);
    json.insert(QLatin1String("grid_discharge_total"), r.lifetime[Reading::GridDischarge] / perKwh);
    json.insert(QLatin1String("serial"), Printable(r.serial));
    json.insert(QLatin1String("firmware"), Printable(r.firmware));
    json.insert(QLatin1String("time"), IsoTime(r.time));
    return QJsonDocument(json).toJson(QJsonDocument::Compact);
}

QByteArray ErrorsJson(int count, const QString& lastEntry) {
    QJsonObject errors;
    errors.insert(QLatin1String("count"), count);
    errors.insert(QLatin1String("last_entry"), lastEntry);
    return QJsonDocument(errors).toJson(QJsonDocument::Compact);
}

#include "controls/charge_intent.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>
#include <unistd.h>

const char* const kChargeStateFile = "ModbusClient charge.json";

namespace {
const char* const kPhases[] = {"idle", "running", "ending"};

QJsonValue Time(const QDateTime& t) {
    return t.isValid() ? QJsonValue(t.toUTC().toString(Qt::ISODate)) : QJsonValue();
}
} // namespace

bool ChargeIntent::operator==(const ChargeIntent& o) const {
    return phase == o.phase && source == o.source && watts == o.watts && started == o.started &&
           endsAt == o.endsAt && targetSoc == o.targetSoc && endReason == o.endReason &&
           windowNight == o.windowNight;
}

bool ReadChargeIntent(ChargeIntent* intent, QString* error) {
    *intent = ChargeIntent();
    QFile file(QString::fromLatin1(kChargeStateFile));
    if (!file.exists()) {
        return true;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    QJsonParseError parse{};
    const QJsonObject json = QJsonDocument::fromJson(file.read(qint64{64} * 1024), &parse).object();
    const QString phase = json.value(QLatin1String("phase")).toString();
    const auto known = std::find_if(std::begin(kPhases), std::end(kPhases),
                                    [&](const char* p) { return phase == QLatin1String(p); });
    if (parse.error != QJsonParseError::NoError || known == std::end(kPhases)) {
        *error = QStringLiteral("not a state this program wrote");
        return false;
    }
    intent->phase = static_cast<ChargeIntent::Phase>(known - std::begin(kPhases));
    intent->source = json.value(QLatin1String("source")).toString();
    intent->watts = json.value(QLatin1String("watts")).toInt();
    intent->started = QDateTime::fromString(json.value(QLatin1String("started")).toString(), Qt::ISODate);
    intent->endsAt = QDateTime::fromString(json.value(QLatin1String("ends_at")).toString(), Qt::ISODate);
    if (json.value(QLatin1String("target_soc")).isDouble()) {
        intent->targetSoc = json.value(QLatin1String("target_soc")).toInt();
    }
    intent->endReason = json.value(QLatin1String("end_reason")).toString();
    intent->windowNight =
        QDate::fromString(json.value(QLatin1String("window_night")).toString(), Qt::ISODate);
    return true;
}

bool WriteChargeIntent(const ChargeIntent& intent, QString* error) {
    QJsonObject json;
    json.insert(QLatin1String("phase"), QLatin1String(kPhases[static_cast<int>(intent.phase)]));
    json.insert(QLatin1String("source"), intent.source);
    json.insert(QLatin1String("watts"), intent.watts);
    json.insert(QLatin1String("started"), Time(intent.started));
    json.insert(QLatin1String("ends_at"), Time(intent.endsAt));
    json.insert(QLatin1String("target_soc"), intent.targetSoc ? QJsonValue(*intent.targetSoc) : QJsonValue());
    json.insert(QLatin1String("end_reason"), intent.endReason);
    json.insert(QLatin1String("window_night"), intent.windowNight.isValid()
                                                   ? QJsonValue(intent.windowNight.toString(Qt::ISODate))
                                                   : QJsonValue());
    QSaveFile file(QString::fromLatin1(kChargeStateFile));
    const QByteArray bytes = QJsonDocument(json).toJson(QJsonDocument::Indented);
    // The data reach the disk before the swap, so a power cut leaves the old state or the new.
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush() ||
        ::fdatasync(file.handle()) != 0 || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

#include "publish/broker_memory.h"

#include "support/file_failures.h"
#include "support/file_replacement.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

const char* const kEnergyUnitFile = "ModbusClient energy unit";
const char* const kAnnouncedFile = "ModbusClient announced.json";

namespace {
QByteArray ReadSmallFile(const char* name) {
    QFile file(QString::fromLatin1(name));
    return file.open(QIODevice::ReadOnly) ? file.read(qint64{64} * 1024) : QByteArray();
}
} // namespace

bool RememberEnergyUnit(bool countsKwh, QString* error) {
    const QByteArray unit = countsKwh ? "kWh" : "Wh";
    const QByteArray remembered = ReadSmallFile(kEnergyUnitFile).trimmed();
    if (remembered == unit) {
        return true;
    }
    if (!remembered.isEmpty()) {
        *error = QStringLiteral(
                     "energy_unit is %1, but the counters were published in %2 until now. Home Assistant "
                     "would take each lifetime counter as %3 times what it was and add the difference to "
                     "its energy statistics (and take the way back as a meter reset). If the installation "
                     "really counts in %1, delete \"%4\" in the working folder to confirm the change, "
                     "then correct the statistics in Home Assistant (Developer tools, Statistics).")
                     .arg(QString::fromLatin1(unit), QString::fromLatin1(remembered),
                          countsKwh ? QStringLiteral("1000") : QStringLiteral("1/1000"),
                          QString::fromLatin1(kEnergyUnitFile));
        return false;
    }
    // A folder that cannot take it yet is asked again at the next start.
    FileFailure failure;
    ReplaceFileSynced(QString::fromLatin1(kEnergyUnitFile), unit + '\n', &failure);
    return true;
}

Announced ReadAnnounced() {
    const QJsonObject json = QJsonDocument::fromJson(ReadSmallFile(kAnnouncedFile)).object();
    return {json.value(QLatin1String("serial")).toString(), json.value(QLatin1String("prefix")).toString()};
}

bool WriteAnnounced(const Announced& announced, FileFailure* failure) {
    QJsonObject json;
    json.insert(QLatin1String("serial"), announced.serial);
    json.insert(QLatin1String("prefix"), announced.prefix);
    return ReplaceFileSynced(QString::fromLatin1(kAnnouncedFile),
                             QJsonDocument(json).toJson(QJsonDocument::Indented), failure);
}

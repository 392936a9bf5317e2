#include "energy/battery_file.h"

#include "model/form.h"
#include "support/clock.h"
#include "support/error_log.h"
#include "support/file_failures.h"
#include "support/file_replacement.h"
#include "support/text_forms.h"
#include "support/trusted_paths.h"

#include <QFileInfo>

namespace {

constexpr const char* kKeys[] = {
    "BatterySize",       "PVCharge",         "GridCharge",         "PVChargeToday",
    "GridChargeToday",   "PVChargeLife",     "GridChargeLife",     "PVDischarge",
    "GridDischarge",     "PVDischargeToday", "GridDischargeToday", "PVDischargeLife",
    "GridDischargeLife", "BatteryPercent",   "CurrentLevelKWh",    "Date"};

// The lines as they stand in the file; the last one carries the time of writing.
template <typename Sink> void BatteryLines(const Form& form, const Clock& clock, Sink&& line) {
    const std::pair<const char*, const QString*> lines[] = {
        {"BatterySize", &form.BatterySize},
        {"PVCharge", &form.PVCharge},
        {"GridCharge", &form.GridCharge},
        {"PVChargeToday", &form.PVChargeToday},
        {"GridChargeToday", &form.GridChargeToday},
        {"PVChargeLife", &form.PVChargeLife},
        {"GridChargeLife", &form.GridChargeLife},
        {"PVDischarge", &form.PVDischarge},
        {"GridDischarge", &form.GridDischarge},
        {"PVDischargeToday", &form.PVDischargeToday},
        {"GridDischargeToday", &form.GridDischargeToday},
        {"PVDischargeLife", &form.PVDischargeLife},
        {"GridDischargeLife", &form.GridDischargeLife},
        {"BatteryPercent", &form.BatteryPercent},
        {"CurrentLevelKWh", &form.CurrentLevelKWh},
    };
    for (const auto& [key, value] : lines) {
        line(key, *value);
    }
    const QDateTime now = clock.now();
    line("Date", HostDate(now) + QLatin1Char(' ') + HostTime(now));
}

} // namespace

QByteArray BatteryFileBytes(const Form& form, const Clock& clock) {
    QByteArray bytes;
    bytes.reserve(512);
    BatteryLines(form, clock, [&bytes](const char* key, const QString& value) {
        bytes += key;
        bytes += " = ";
        bytes += value.toUtf8();
        bytes += "\r\n";
    });
    return bytes;
}

namespace {

bool Failed(FileFailure* failure, int number, int step) {
    return RecordFileFailure(failure, number, step, QStringLiteral("writebattery"));
}

} // namespace

bool WriteBatteryTemp(const Form& form, const Clock& clock, FileFailure* failure, QByteArray* written) {
    const QString name = form.BatteryToday + QStringLiteral(".tmp");
    const QByteArray bytes = BatteryFileBytes(form, clock);
    // Every cycle: straight through the system calls.
    int error = 0;
    switch (WriteScratchFile(name, bytes, &error)) {
    case ScratchWrite::Done:
        if (written != nullptr) {
            *written = bytes;
        }
        return true;
    case ScratchWrite::WriteFailed:
        return Failed(failure, 61, 30);
    case ScratchWrite::ShortOnDisk:
        // What reached the disk is what gets copied into place: all of it, or nothing.
        return Failed(failure, 61, 40);
    case ScratchWrite::ForeignLink:
        Failed(failure, 70, 20);
        failure->description = ForeignLinkText();
        return false;
    case ScratchWrite::NotOpened:
        break;
    }
    return Failed(failure, QFileInfo(name).isDir() ? 75 : ClassicErrnoNumber(error), 20);
}

bool writebattery(const Form& form, const Clock& clock, ErrorLog& log) {
    FileFailure failure;
    if (WriteBatteryTemp(form, clock, &failure)) {
        return true;
    }
    log.ErrorHandle(QString::number(failure.number), QString::number(failure.step), failure.procedure,
                    QStringLiteral("Could not write ") + form.BatteryToday + QStringLiteral(".tmp; ") +
                        form.BatteryToday + QStringLiteral(" keeps its last content"));
    return false;
}

bool ParseBatteryFile(const QByteArray& bytes, QStringList* lines) {
    if (bytes.contains('\0')) {
        return false;
    }
    const QStringList found = TextLines(bytes);
    constexpr int kLines = sizeof kKeys / sizeof kKeys[0];
    if (found.size() != kLines || !(bytes.endsWith('\n') || bytes.endsWith('\r'))) {
        return false;
    }
    for (int i = 0; i < kLines; ++i) {
        if (!found[i].startsWith(QLatin1String(kKeys[i]) + QStringLiteral(" = "))) {
            return false;
        }
    }
    *lines = found;
    return true;
}

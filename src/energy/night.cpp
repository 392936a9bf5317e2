#include "energy/night.h"

#include "energy/battery_file.h"
#include "model/form.h"
#include "support/appended_file.h"
#include "support/file_failures.h"
#include "support/file_replacement.h"
#include "support/file_utils.h"
#include "support/prompter.h"
#include "support/text_forms.h"
#include "support/trusted_paths.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>

const char* const kNightFile = "BatteryNight.txt";
const char* const kDailySummaryFile = "battery daily summary.log";

namespace {

// The file's bytes; false when it cannot be read. errno tells why.
bool ReadBytes(const QString& path, QByteArray* bytes) {
    QFile file(path);
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly)) {
        return false;
    }
    *bytes = file.readAll();
    return file.error() == QFileDevice::NoError;
}

// A lifetime counter as the state file writes it: digits, or the exponent form of a huge one.
bool CounterText(const QString& text) {
    double value = 0;
    return !text.isEmpty() && ParseNumber(text, &value) && value >= 0;
}

} // namespace

QString NightFileName() {
    // Looked up under the name it is read by, which comes first when there are several.
    const QString found = FindFileIgnoringCase(QStringLiteral("batterynight.txt"));
    return QFileInfo::exists(found) ? found : QString::fromLatin1(kNightFile);
}

void readNight(Form& form) {
    QByteArray bytes;
    if (!ReadBytes(NightFileName(), &bytes)) {
        return;
    }
    // By key, blanks around "=" optional and in any letter case. A counter the file lacks, holds
    // no number for or has cut short (its line unended) has no baseline: its day is unknown, never
    // its lifetime.
    bool lastEnded = false;
    const QStringList lines = TextLines(bytes, &lastEnded);
    const std::pair<const char*, QString*> keys[] = {
        {"PVChargeLife", &form.NightPVChargeLife},
        {"PVDischargeLife", &form.NightPVDischargeLife},
        {"GridChargeLife", &form.NightGridChargeLife},
        {"GridDischargeLife", &form.NightGridDischargeLife},
    };
    for (const auto& [key, variable] : keys) {
        variable->clear();
    }
    for (const QString& line : lines) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0) {
            continue;
        }
        const QString name = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        for (const auto& [key, variable] : keys) {
            if (name.compare(QLatin1String(key), Qt::CaseInsensitive) == 0) {
                // A later line overrides an earlier one, a bad one too.
                *variable = CounterText(value) ? value : QString();
            }
        }
    }
}

void DaySave(const Form& form, Prompter& prompter, FileFailures& failures) {
    // The snapshot the next readNight finds, and the summary the user already has, in their own
    // letter case; the classic names only when there is none yet.
    const QString night = NightFileName();
    const QString summary = FindFileIgnoringCase(QString::fromLatin1(kDailySummaryFile));
    auto failed = [&](const QString& file, const FileFailure& failure, const QString& kept) {
        failures.failed(file, failure, kept);
        prompter.message(
            QStringLiteral("Error saving night file and log ") + ClassicErrorText(failure.number) + CrLf() +
            QStringLiteral("manually save the current Battery.txt file in as night and in the log"));
    };
    const QString keptNight = QStringLiteral("the night snapshot is left as it was");
    // Only a whole state file becomes the next day's baseline and the summary's block: one that
    // a power cut or a full disk left short or padded with NULs would wipe out the good snapshot.
    QByteArray state;
    QStringList lines;
    if (!ReadBytes(form.BatteryToday, &state)) {
        const int number = QFileInfo::exists(form.BatteryToday) ? 75 : 53;
        failed(night,
               {number, 20, QStringLiteral("DaySave"),
                form.BatteryToday + QLatin1Char(' ') + ClassicErrorText(number)},
               keptNight);
        return;
    }
    if (!ParseBatteryFile(state, &lines)) {
        failed(night,
               {75, 20, QStringLiteral("DaySave"),
                form.BatteryToday + QStringLiteral(" is not a whole state file")},
               keptNight);
        return;
    }
    FileFailure failure;
    if (!ReplaceFileSynced(night, state, &failure)) {
        failure.procedure = QStringLiteral("DaySave");
        failed(night, failure, keptNight);
        return;
    }
    failures.succeeded(night);
    QString block = form.LastPollDate + QLatin1Char(' ') + form.LastPollTime + CrLf();
    for (const QString& line : lines) {
        block += line + CrLf();
    }
    block += CrLf();
    failure = FileFailure{0, 0, QStringLiteral("DaySave"), QString()};
    // In one write, or not at all: half a block would read as a day of wrong figures.
    if (!AppendWholeLines(summary, block.toUtf8(), AppendSync::Now, &failure, 30)) {
        failed(summary, failure, QStringLiteral("this night's block is missing"));
        return;
    }
    failures.succeeded(summary);
    // The day's end: every log forced to disk.
    SyncAppendedFiles();
}

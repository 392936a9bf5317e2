#include "energy/night.h"

#include "model/form.h"
#include "support/file_failures.h"
#include "support/file_utils.h"
#include "support/prompter.h"
#include "support/text_forms.h"

#include <QFile>
#include <QFileInfo>

const char* const kNightFile = "BatteryNight.txt";
const char* const kDailySummaryFile = "battery daily summary.log";

namespace {

// Lines of a text file, ended by CR LF, LF or CR alone (as some editors save); false when it
// cannot be read.
bool ReadLines(const QString& path, QStringList* lines) {
    QFile file(path);
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return false;
    }
    // CR LF, CR or LF: split by hand, as the regular expression library alone is half a megabyte
    // of resident memory.
    QStringList result;
    qsizetype start = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' || bytes[i] == '\n') {
            result.append(QString::fromUtf8(bytes.mid(start, i - start)));
            if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
                ++i;
            }
            start = i + 1;
        }
    }
    if (start < bytes.size()) {
        result.append(QString::fromUtf8(bytes.mid(start)));
    }
    *lines = result;
    return true;
}

} // namespace

QString NightFileName() {
    // Looked up under the name it is read by, which comes first when there are several.
    const QString found = FindFileIgnoringCase(QStringLiteral("batterynight.txt"));
    return QFileInfo::exists(found) ? found : QString::fromLatin1(kNightFile);
}

void readNight(Form& form) {
    QStringList lines;
    if (!ReadLines(NightFileName(), &lines)) {
        return;
    }
    const std::pair<const char*, QString*> keys[] = {
        {"PVChargeLife", &form.NightPVChargeLife},
        {"PVDischargeLife", &form.NightPVDischargeLife},
        {"GridChargeLife", &form.NightGridChargeLife},
        {"GridDischargeLife", &form.NightGridDischargeLife},
    };
    for (const QString& line : lines) {
        for (const auto& [key, variable] : keys) {
            const QLatin1String k(key);
            if (line.contains(k)) {
                // The value follows the key, a blank, "=" and a blank.
                *variable = line.mid(k.size() + 3);
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
    FileFailure failure;
    if (!ReplaceFileWithCopy(form.BatteryToday, night, &failure)) {
        failure.procedure = QStringLiteral("DaySave");
        if (failure.step == 20) {
            failure.description = form.BatteryToday + QStringLiteral(" ") + ClassicErrorText(failure.number);
        }
        failed(night, failure, QStringLiteral("the night snapshot is left as it was"));
        return;
    }
    failures.succeeded(night);
    QStringList lines;
    if (!ReadLines(form.BatteryToday, &lines)) {
        failed(form.BatteryToday, {53, 20, QStringLiteral("DaySave"), QString()}, QString());
        return;
    }
    QString block = form.LastPollDate + QLatin1Char(' ') + form.LastPollTime + CrLf();
    for (const QString& line : lines) {
        block += line + CrLf();
    }
    block += CrLf();
    QFile log(summary);
    if (QFileInfo(log.fileName()).isDir() || !log.open(QIODevice::WriteOnly | QIODevice::Append)) {
        failed(summary, {ClassicFileError(log, summary), 30, QStringLiteral("DaySave"), QString()},
               QStringLiteral("this night's block is missing"));
        return;
    }
    const qint64 before = log.size();
    if (!WriteAllAndFlush(log, block.toUtf8())) {
        // Half a block would read as a day of wrong figures: take it back out.
        log.resize(before);
        failed(summary, {61, 40, QStringLiteral("DaySave"), QString()},
               QStringLiteral("this night's block is missing"));
        return;
    }
    failures.succeeded(summary);
}

#include "support/error_log.h"

#include "support/appended_file.h"
#include "support/classic_errors.h"
#include "support/clock.h"
#include "support/prompter.h"
#include "support/text_forms.h"

ErrorLog::ErrorLog(const Clock& clock, Prompter& prompter, QString path)
    : clock_(clock), prompter_(prompter), path_(std::move(path)) {}

QString ErrorLog::EntryLine(const QString& error, const QString& line, const QString& procedure,
                            const QString& description) const {
    const QDateTime now = clock_.now();
    QString entry = QStringLiteral("Time: ") + HostDate(now) + QLatin1Char(' ') + HostTime(now) +
                    QStringLiteral(" | Error: ") + error + QStringLiteral(" | Line: ") + line +
                    QStringLiteral(" | Procedure: ") + procedure;
    if (!description.isEmpty()) {
        entry += QStringLiteral(" | Description: ") + description;
    }
    return entry;
}

void ErrorLog::ErrorHandle(const QString& error, const QString& line, const QString& procedure,
                           const QString& description) {
    ProcedureName = QStringLiteral("ErrorHandle");
    // Files of the other writers are closed by their own scope; nothing is left open here.
    lastEntry_ = EntryLine(error, line, procedure, description);
    ++entries_;
    if (entered) {
        entered();
    }
    if (echo) {
        echo(lastEntry_);
    }
    // Kept in memory until the file takes it: the entries of a full disk reach it once space
    // is back, in their order.
    unwritten_ += (lastEntry_ + CrLf() + CrLf()).toUtf8();
    if (unwritten_.size() > kMostUnwritten) {
        const qsizetype cut = unwritten_.indexOf("\r\n\r\n", unwritten_.size() - kMostUnwritten);
        unwritten_.remove(0, cut < 0 ? unwritten_.size() : cut + 4);
    }
    retry();
    // No pause here: the event loop must never be held.
}

void ErrorLog::retry() {
    if (unwritten_.isEmpty()) {
        return;
    }
    FileFailure failure;
    if (AppendWholeLines(path_, unwritten_, AppendSync::Paced, &failure, 9000)) {
        unwritten_.clear();
        runs_.succeeded(path_);
        return;
    }
    // Once per run of failures: the next entries wait quietly with this one.
    if (runs_.failed(path_)) {
        const int step = failure.number == 61 ? 9010 : 9000;
        prompter_.message(QString::number(failure.number) + QLatin1Char(' ') + QString::number(step) +
                          QLatin1Char(' ') + AppName + QLatin1Char('.') + ProcedureName);
    }
}

#include "support/error_log.h"

#include "support/clock.h"
#include "support/file_utils.h"
#include "support/prompter.h"
#include "support/text_forms.h"

#include <QFile>

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
    if (echo) {
        echo(lastEntry_);
    }
    const QByteArray bytes = (lastEntry_ + CrLf() + CrLf()).toUtf8();
    QFile file(path_);
    int step = 9000;
    bool ok = file.open(QIODevice::WriteOnly | QIODevice::Append);
    if (ok) {
        step = 9010;
        ok = file.write(bytes) == bytes.size();
    }
    if (ok) {
        step = 9020;
        ok = file.flush();
        file.close();
        ok = ok && file.error() == QFileDevice::NoError;
    }
    if (!ok) {
        prompter_.message(QString::number(ClassicFileError(file, path_)) + QLatin1Char(' ') +
                          QString::number(step) + QLatin1Char(' ') + AppName + QLatin1Char('.') +
                          ProcedureName);
    }
    // No pause here: the event loop must never be held.
}

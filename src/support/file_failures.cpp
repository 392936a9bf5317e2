#include "support/file_failures.h"

#include "support/classic_errors.h"
#include "support/error_log.h"

void FileFailures::failed(const QString& file, const FileFailure& failure, const QString& kept) {
    if (!runs_.failed(file)) {
        return;
    }
    const QString reason =
        failure.description.isEmpty() ? ClassicErrorText(failure.number) : failure.description;
    QString text = QStringLiteral("Could not write ") + file + QStringLiteral(": ") + reason;
    if (!kept.isEmpty()) {
        text += QStringLiteral("; ") + kept;
    }
    log_.ErrorHandle(QString::number(failure.number), QString::number(failure.step), failure.procedure, text);
    if (notify) {
        notify(text);
    }
}

void FileFailures::succeeded(const QString& file) {
    // A file written again may mean space is back: the entries the error log still holds go first.
    if (log_.hasUnwritten()) {
        log_.retry();
    }
    if (runs_.succeeded(file) && notify) {
        notify(file + QStringLiteral(" is written again"));
    }
}

#pragma once

#include "support/failure_runs.h"

#include <QByteArray>
#include <QString>

#include <functional>

class Clock;
class Prompter;

// The one writer of "ModbusClient errors.log". Also holds the two names the logging
// procedures report under (AppName, ProcedureName).
class ErrorLog {
public:
    ErrorLog(const Clock& clock, Prompter& prompter,
             QString path = QStringLiteral("ModbusClient errors.log"));

    void ErrorHandle(const QString& error, const QString& line, const QString& procedure,
                     const QString& description = QString());

    // The entry line without its CR LF CR LF.
    QString EntryLine(const QString& error, const QString& line, const QString& procedure,
                      const QString& description) const;

    const QString& path() const { return path_; }

    // Writes the entries the file could not take yet (a full disk, a folder not writable).
    void retry();
    bool hasUnwritten() const { return !unwritten_.isEmpty(); }

    // Entries made since start, whether or not the file took them, and the newest one's line.
    int entriesSinceStart() const { return entries_; }
    const QString& lastEntry() const { return lastEntry_; }
    // Sees each entry line as it is logged (headless mode copies it into the journal).
    std::function<void(const QString&)> echo;
    // Told of each entry as it is made (the publisher's errors sensor).
    std::function<void()> entered;

    QString AppName = QStringLiteral("ModbusClient");
    QString ProcedureName;

private:
    const Clock& clock_;
    Prompter& prompter_;
    QString path_;
    int entries_ = 0;
    QByteArray unwritten_;
    FailureRuns runs_;
    static constexpr qsizetype kMostUnwritten = 1 << 20;
    QString lastEntry_;
};

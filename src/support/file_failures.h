#pragma once

#include "support/classic_errors.h"
#include "support/failure_runs.h"

#include <QString>
#include <functional>

class ErrorLog;

// Reports a file that cannot be written once per run of failures, not once per cycle: the first
// failure goes to the error log and to notify (the status pane and standard error, since the
// error log may sit on the same full disk); the next ones stay quiet until the file is written
// again, which notify is told too.
class FileFailures {
public:
    explicit FileFailures(ErrorLog& log) : log_(log) {}

    // kept: what the reader of the file still finds ("its last good content is kept").
    void failed(const QString& file, const FileFailure& failure, const QString& kept);
    // Once a failing file is written again, notify says so.
    void succeeded(const QString& file);
    bool failing(const QString& file) const { return runs_.failing(file); }

    std::function<void(const QString&)> notify;

private:
    ErrorLog& log_;
    FailureRuns runs_;
};

#pragma once

#include "support/failure_runs.h"

#include <QHash>
#include <QString>
#include <functional>

class ErrorLog;

// Where every timer, socket and window event is entered. A failure that escapes the handler ends
// that event with an error-log entry; the program runs on. The same failure again from the same
// handler is not logged again until the handler has run through once: then notify gets one line
// saying so. afterEvent (the view's refresh) runs once the outermost event is over.
class EventBoundary {
public:
    explicit EventBoundary(ErrorLog& log) : log_(log) {}

    void run(const QString& handler, const std::function<void()>& body);

    std::function<void()> afterEvent;
    std::function<void(const QString&)> notify;

private:
    void failed(const QString& handler, const QString& number, const QString& procedure,
                const QString& description);

    ErrorLog& log_;
    int depth_ = 0;
    FailureRuns runs_; // per handler; the kind is number, procedure and description
    // Per failing handler, what the operator is told when it runs again.
    QHash<QString, QString> texts_;
};

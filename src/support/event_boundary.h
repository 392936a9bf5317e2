#pragma once

#include <QString>
#include <functional>

class ErrorLog;

// Where every timer, socket and window event is entered. A failure that escapes the handler ends
// that event with one error-log entry; the program runs on. afterEvent (the view's refresh) runs
// once the outermost event is over.
class EventBoundary {
public:
    explicit EventBoundary(ErrorLog& log) : log_(log) {}

    void run(const QString& handler, const std::function<void()>& body);

    std::function<void()> afterEvent;

private:
    ErrorLog& log_;
    int depth_ = 0;
};

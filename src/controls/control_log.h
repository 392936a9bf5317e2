#pragma once

#include <QString>
#include <functional>
#include <optional>

class Clock;
class FileFailures;
class StatusPane;

extern const char* const kControlLogFile;

// What the managed charge does, said twice: a status line, and a line of "ModbusClient
// control.log" (time, source, action, power, target, reason).
class ControlLog {
public:
    ControlLog(StatusPane& status, const Clock& clock, FileFailures& failures)
        : status_(status), clock_(clock), failures_(failures) {}

    void line(const QString& source, const QString& action, double powerKw, const std::optional<int>& target,
              const QString& reason);
    void status(const QString& text);

    // Each control-log line once more, for a journal that keeps the status lines out.
    std::function<void(const QString&)> notice;

private:
    StatusPane& status_;
    const Clock& clock_;
    FileFailures& failures_;
};

// "2.5 kW", "90 %", and a quoted text cut to 200 characters.
QString KwText(double kw);
QString PercentText(int value);
QString Quoted(const QString& text);

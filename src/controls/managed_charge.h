#pragma once

#include "controls/charge_window.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <optional>

struct Form;
class Clock;
class FileFailures;
class ModbusLink;
class StatusPane;

extern const char* const kControlLogFile;

// What a source asks for: "window" (the [charge] section), "mqtt", ...
struct ChargeRequest {
    QString source;
    double powerKw = 0;
    std::optional<int> targetSoc; // percent, 0 to 100
    std::optional<int> minutes;   // 1 to 720; none: no time limit of its own
};

struct ChargeStartResult {
    bool accepted = false;
    QString reason; // why it was refused; empty when accepted
};

// What a publisher needs to describe the managed charge.
struct ChargeState {
    bool active = false;
    QString source; // who holds the running charge, or who held the last one
    double powerKw = 0;
    QDateTime started;
    QDateTime endsAt; // invalid: it runs until its target or a stop
    std::optional<int> targetSoc;
    QString lastEndReason; // why the last one ended; empty before the first end
};

// A forced charge with an end: it starts with the forced-charge command and ends with the same
// command at 0 W at the first of its target, its time limit, its window's end, a stop, or the
// program's end. The writes wait their turn behind the poll. Starts and ends are status lines
// and lines of "ModbusClient control.log".
class ManagedCharge : public QObject {
    Q_OBJECT
public:
    ManagedCharge(Form& form, ModbusLink& link, StatusPane& status, const Clock& clock,
                  FileFailures& failures, QObject* parent = nullptr);

    // The installation's rated battery power in watts, known after a poll cycle.
    std::function<int32_t()> ratedBatteryWatts;

    void setWindow(const ChargeWindow& window);
    const ChargeWindow& window() const { return window_; }

    // Checks the request and, when it passes, writes the command; a running charge is replaced.
    ChargeStartResult start(const ChargeRequest& request);
    // Reports a request its source could not make into a start (a malformed command): a status
    // line and a control-log line, as a refused start; nothing is written.
    void refuse(const ChargeRequest& request, const QString& reason);
    // Ends the running charge, if any, with 0 W.
    void stop(const QString& source, const QString& reason = QString());
    // The end as the program stops. True while its 0 W is on its way; endWriteSettled follows.
    bool finish();
    bool endWriteInFlight() const { return endWrites_ > 0; }

    // The events it follows: a completed poll cycle with its state of charge, the connection.
    void onPollCycleCompleted(const QString& batteryPercent);
    void onConnected();
    void onLinkLost();
    // The one-second check of the time limit and the window; tests call it directly.
    void Tick();

    ChargeState state() const { return state_; }

Q_SIGNALS:
    void stateChanged();
    // The 0 W of an end was echoed (true) or could not be written (false).
    void endWriteSettled(bool ok);
    // A status line was added (a start, an end, a refusal, a write that failed).
    void reported();

private:
    ChargeStartResult Check(const ChargeRequest& request) const;
    void Begin(const ChargeRequest& request, const QDateTime& endsAt);
    void End(const QString& source, const QString& reason);
    void WriteCommand(int32_t watts, bool end);
    void Status(const QString& line);
    void Report(const QString& source, const QString& action, double powerKw,
                const std::optional<int>& target, const QString& reason);
    void CheckWindow();

    Form& form_;
    ModbusLink& link_;
    StatusPane& status_;
    const Clock& clock_;
    FileFailures& failures_;
    ChargeWindow window_;
    ChargeState state_;
    int32_t watts_ = 0;
    QTimer tick_;
    bool haveCycle_ = false;
    std::optional<int> soc_;
    // The 0 W of an end that could not go out yet: it goes out when the connection is back.
    bool endPending_ = false;
    int endWrites_ = 0;
    // The start of the window already served (started, or found at its target).
    QDateTime windowServed_;
    QString lastWindowRefusal_;
};

#pragma once

#include "controls/charge_device.h"
#include "controls/charge_intent.h"
#include "controls/charge_window.h"
#include "controls/control_log.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <optional>

class Clock;
class FileFailures;
class ModbusLink;
class StatusPane;

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

// Starting: written, not yet read back; Running: the installation shows the power; Ending: 0 W
// asked and not yet read back.
enum class ChargePhase { Idle, Starting, Running, Ending };

// What a publisher needs to describe the managed charge.
struct ChargeState {
    ChargePhase phase = ChargePhase::Idle;
    bool active = false; // starting or running
    QString source;      // who holds the running charge, or who held the last one
    double powerKw = 0;
    QDateTime started;
    QDateTime endsAt; // invalid: it runs until its target or a stop
    std::optional<int> targetSoc;
    QString lastEndReason; // why the last one ended; empty before the first end
    bool endConfirmed = true;
    // The installation's 60314 at the last read-back while 60310 says charge (else 0); none
    // before the first read-back.
    std::optional<int> deviceWatts;
    // The installation charges and this program did not start it.
    bool foreign = false;
};

// A forced charge with an end: it starts with the forced-charge command and ends with the same
// command at 0 W at the first of its target, its time limit, its window's end, a stop, or the
// program's end. What it means the installation to do is kept in a state file and compared with
// the registers read back, so that a refused write, a slow device, a crash or a clock change
// never leaves the battery charging while the program says it stopped.
class ManagedCharge : public QObject {
    Q_OBJECT
public:
    ManagedCharge(ModbusLink& link, StatusPane& status, const Clock& clock, FileFailures& failures,
                  QObject* parent = nullptr);

    void setWindow(const ChargeWindow& window);
    const ChargeWindow& window() const { return window_; }
    // This program manages charges (a window or Home Assistant control is set up): the command
    // registers are read once a run, and a charge found there is ended at the program's end.
    // Otherwise they are read only while a charge of this program's may run.
    void setManaged(bool managed) { managed_ = managed_ || managed; }
    // Reads the state file an earlier run left; it is acted on after the first poll cycle.
    void restore();

    // Checks the request and, when it passes, writes the command; a running charge is replaced.
    // endsAt, when valid, is its end as an instant (a plan's slot) instead of its minutes.
    ChargeStartResult start(const ChargeRequest& request, const QDateTime& endsAt = QDateTime());
    // Reports a request its source could not make into a start: a status line and a control-log
    // line; nothing is written.
    void refuse(const ChargeRequest& request, const QString& reason);
    // Writes 0 W, whether or not a charge of this run is active.
    void stop(const QString& source, const QString& reason = QString());
    // The program's end: true while an end is on its way; settled() follows its confirmation.
    bool finish();
    // The end not confirmed yet, and why, for the program's last words.
    QString unconfirmedEnd() const;

    // The events it follows: a completed poll cycle with its state of charge and the rated
    // battery power read in it, the connection.
    void onPollCycleCompleted(std::optional<int> soc, std::optional<int32_t> ratedWatts);
    void onConnected();
    void onLinkLost();
    // The one-second check of the time limit and the window; tests call it directly.
    void Tick();

    ChargeState state() const { return state_; }
    // The run's first read-back is done: an earlier run's charge is settled, a new one may start.
    bool firstReadBackDone() const { return knowsDevice_; }
    // Each start, end and refusal once more, where the status lines are not kept (the journal).
    void setNotice(std::function<void(const QString&)> notice) { log_.notice = std::move(notice); }

Q_SIGNALS:
    void stateChanged();
    // The end was confirmed: the installation reads back 0 W.
    void settled();
    // A status line was added (a start, an end, a refusal, a write that failed).
    void reported();

private:
    ChargeStartResult Check(const ChargeRequest& request) const;
    void Begin(const ChargeRequest& request, qint64 durationMs, const QString& until);
    void End(const QString& source, const QString& reason);
    void Confirmed(int32_t watts);
    void Failed(int32_t watts, const QString& reason);
    void ReadBack();
    void Resolve();
    void CheckWindow();
    void CheckLimits();
    void SetPhase(ChargePhase phase);
    void Save();
    void Line(const QString& source, const QString& action, double powerKw, const QString& reason);

    ModbusLink& link_;
    ControlLog log_;
    const Clock& clock_;
    FileFailures& failures_;
    ChargeDevice device_;
    ChargeWindow window_;
    ChargeState state_;
    ChargeIntent intent_;
    std::optional<ChargeIntent> saved_;
    std::optional<ChargeIntent> restored_; // from an earlier run, until the first read-back
    std::optional<qint64> deadlineMs_;     // on the monotonic clock
    QString endSource_;
    QString endReason_;
    QString lastFailure_;
    QTimer tick_;
    bool managed_ = false;
    bool haveCycle_ = false;
    bool knowsDevice_ = false;
    bool endFailing_ = false;
    std::optional<int> soc_;
    std::optional<int32_t> ratedWatts_;
    QString lastWindowRefusal_;
};

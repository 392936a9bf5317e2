#pragma once

#include "controls/charge_plan.h"
#include "controls/controls_editor.h"
#include "controls/managed_charge.h"
#include "decode/block_a.h"
#include "decode/decode_context.h"
#include "energy/counter_guard.h"
#include "energy/day_rollover.h"
#include "link/connection.h"
#include "link/status_pane.h"
#include "model/form.h"
#include "model/reading.h"
#include "support/error_log.h"
#include "support/event_boundary.h"
#include "support/file_failures.h"

#include <QDate>
#include <QObject>
#include <QTimer>
#include <optional>

class Clock;
class Prompter;

extern const char* const kPollRateMessage;
extern const char* const kStartRangeMessage;
extern const char* const kNumberRangeMessage;

// The program without its windows: owns the form, the connection and the timers, and turns
// every window, timer and socket event into the subsystem calls. Headless mode and tests run it
// as it is; the main window is a view of its form.
class Shell : public QObject {
    Q_OBJECT
public:
    Shell(const Clock& clock, Prompter& prompter, QObject* parent = nullptr);

    // Start-up: design-time values, the settings file, the command line, the register-map entry,
    // the night snapshot.
    void Form_Load(const QString& commandLine);
    void Form_Unload();

    // Operator commands.
    void connectcmd_Click();
    void Check1_Click(bool checked);
    void StopStart_Click();
    void SelType_Click(int index);
    void Command1_Click();
    void Form_DblClick();
    // "Controls": reads block C and shows the control register editor.
    void showcmd_Click();
    // "Charge": the forced-charge command.
    void ForceChargecmd_Click();

    // The control register editor's events.
    void Controlsfrm_Unload();
    void Controlsfrm_Timer1_Timer();
    void Controlsfrm_Timer2_Timer();
    // Validation hook of the editor's fields: accepts every change and does nothing else.
    void HandleFieldValidate();

    // Timer ticks, also run directly by tests.
    void Timer1_Timer();
    void Timer2_Timer();
    void Timer3_Timer();

    Form& form() { return form_; }
    ModbusLink& link() { return link_; }
    ErrorLog& log() { return log_; }
    StatusPane& status() { return status_; }
    QTimer& timer1() { return timer1_; }
    QTimer& timer2() { return timer2_; }
    QTimer& timer3() { return timer3_; }
    ControlsEditor& controls() { return controls_; }
    ManagedCharge& charge() { return charge_; }
    // The charge plan from the day's prices; its view() and changed() are the day chart's.
    ChargePlan& plan() { return plan_; }
    CounterGuard& counterGuard() { return guard_; }
    // The figures of the last completed poll cycle.
    const Reading& reading() const { return reading_; }

    // The program's end: polling stops at once, and a managed charge (or one an earlier run left)
    // is ended; the event loop runs on, at most timeoutMs, until the installation reads back
    // 0 W, connecting once more if the link is down. False, with the reason, when that end could
    // not be confirmed in time: the state file keeps it for the next run.
    bool FinishManagedCharge(int timeoutMs, QString* unconfirmed);

Q_SIGNALS:
    // After every event: the view shows the form again.
    void changed();
    // A poll cycle has decoded its last block: the form holds a complete set of figures.
    void pollCycleCompleted();
    // The same cycle's figures as numbers, for the history, the publisher and the managed charge.
    void cycleCompleted(const Reading& reading);
    // The midnight save has run: the form still holds the figures of the day that ended.
    void daySaved();
    // The connection to the installation is gone (closed, or given up for a reconnect).
    void linkLost();

private:
    void PollStep();
    void SaveNight();
    void SetUpControls();
    ControlsForm& LoadedControls();

    const Clock& clock_;
    Prompter& prompter_;
    Form form_;
    ErrorLog log_;
    EventBoundary boundary_;
    StatusPane status_;
    ModbusLink link_;
    FileFailures fileFailures_;
    CounterGuard guard_{fileFailures_};
    DeviceIdentity identity_;
    DecodeContext decode_;
    QTimer timer1_;
    QTimer timer2_;
    QTimer timer3_;
    DayRollover rollover_{clock_, timer3_, [this] { SaveNight(); }};
    ControlsEditor controls_{form_, timer1_, timer2_};
    ManagedCharge charge_{link_, status_, clock_, fileFailures_};
    ChargePlan plan_{charge_, status_, clock_, fileFailures_};
    Reading reading_;
};

#pragma once

#include <QDate>
#include <functional>

class Clock;
class QTimer;

// The day's end as a running program meets it: from 23:59 the minute tick arms a one-second
// watch (Timer3) whose first tick at or after midnight saves the day; a midnight that passed
// while no armed tick saw it (a busy machine, a suspend, a clock change, the control editor
// holding the minute timer) is saved by the next tick of any timer. One save per night; a
// midnight that passed before start-up is not saved.
class DayRollover {
public:
    DayRollover(const Clock& clock, QTimer& watch, std::function<void()> save)
        : clock_(clock), watch_(watch), save_(std::move(save)) {}

    // Start-up: today is where the program came in.
    void Loaded();
    // Any timer's tick, before it polls, so that the day's last poll is still the one in hand.
    void CatchUp();
    // The minute tick: arms the watch in the day's last minute.
    void MinuteTick();
    // The watch's tick.
    void WatchTick();

private:
    void Save();

    const Clock& clock_;
    QTimer& watch_;
    std::function<void()> save_;
    QDate watchArmedOn_;
    QDate lastTickDate_;  // date of the last timer tick while running
    QDate nightSavedFor_; // the date whose midnight was saved last
};

#pragma once

#include "model/reading.h"
#include "support/failure_runs.h"

#include <QDateTime>
#include <QString>
#include <array>
#include <functional>

class FileFailures;

extern const char* const kCountersFile;

// Keeps the lifetime counters going only forward for what is built on the typed reading (the
// history, the publisher, the managed charge): Home Assistant takes one drop on a counter that
// only grows as a meter reset and counts the climb back as new energy. A counter read below its
// last accepted value, or further above it than the installation could have moved since (twice its
// rated power over the time elapsed, and a fixed allowance), is replaced by the last accepted value,
// and so is a night snapshot taken from such a read. A new level that holds for kHoldCycles cycles
// in a row (never going back) is accepted and said (a replaced meter or battery). The day's counters
// follow the accepted lifetime counters, so they never go down within their day. The last accepted
// values are kept in the working folder across runs.
class CounterGuard {
public:
    static constexpr int kHoldCycles = 5;

    explicit CounterGuard(FileFailures& failures, QString path = QString::fromLatin1(kCountersFile));
    // Writes what was accepted since the last write.
    ~CounterGuard();
    CounterGuard(const CounterGuard&) = delete;
    CounterGuard& operator=(const CounterGuard&) = delete;

    // The values an earlier run accepted; a file that cannot be read is said and left to be
    // written afresh.
    void restore();
    // The reading with every counter not accepted replaced.
    Reading apply(const Reading& raw);
    // Writes the accepted values now (also done by apply, at most once a minute).
    void save();

    // The counters count kWh rather than Wh.
    bool countsKwh = false;
    // A rejection or a new level (logged: also for the error log), or a counter that reads right again.
    std::function<void(const QString& text, bool logged)> say;

private:
    struct Counter {
        double accepted = 0;
        QDateTime acceptedAt;
        // A level read instead, and for how many cycles in a row.
        double candidate = 0;
        int held = 0;
        static Counter At(double value, const QDateTime& time) {
            Counter c;
            c.accepted = value;
            c.acceptedAt = time;
            return c;
        }
    };
    bool Plausible(double from, const QDateTime& fromTime, double to, const QDateTime& toTime,
                   double ratedW) const;
    void Check(int index, double raw, const QDateTime& time, double ratedW);
    double DayStart(int index, double night, const Counter& before, const QDateTime& time, double ratedW);
    void Say(const QString& text, bool logged) const;
    void Anchor();

    FileFailures& failures_;
    QString path_; // as the messages name it
    QString file_; // where it is, once the counters are first read or restored
    std::array<Counter, 4> counters_{};
    // Where each day's counter starts: the night snapshot's value, unless that was a bad read.
    struct Day {
        std::optional<double> night;
        double start = 0;
    };
    std::array<Day, 4> days_{};
    FailureRuns rejections_;
    bool known_ = false;
    bool dirty_ = false;
    QDateTime savedAt_;
    QDateTime lastTime_; // of the newest reading
};

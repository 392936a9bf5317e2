#pragma once

#include <QDateTime>

#include <algorithm>

// Source of "now", so that dates, times and midnight can be tested exactly.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
    // Milliseconds on a clock that a change of the wall clock does not move, for time limits.
    virtual qint64 monotonicMs() const = 0;
};

// While TZ is unset, glibc looks at /etc/localtime again (a stat) on every local-time conversion,
// several times a poll cycle. This pins TZ to that file, so the zone is read once; call it before
// any thread starts. SystemClock then looks at the file once a minute and takes in a changed zone.
void PinLocalTimeZone();

class SystemClock : public Clock {
public:
    QDateTime now() const override;
    qint64 monotonicMs() const override;
};

class SettableClock : public Clock {
public:
    explicit SettableClock(QDateTime start = QDateTime(QDate(2026, 12, 7), QTime(12, 0, 0)))
        : current_(std::move(start)) {}
    QDateTime now() const override { return current_; }
    qint64 monotonicMs() const override { return monotonic_; }
    // Time passes: both clocks move on (a wall clock set back moves neither).
    void set(const QDateTime& t) {
        monotonic_ += std::max<qint64>(0, current_.msecsTo(t));
        current_ = t;
    }
    void advance(qint64 ms) { set(current_.addMSecs(ms)); }
    // The wall clock is set, as by an administrator or a time server: time does not pass.
    void step(qint64 ms) { current_ = current_.addMSecs(ms); }

private:
    QDateTime current_;
    qint64 monotonic_ = 0;
};

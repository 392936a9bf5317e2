#pragma once

#include <QDateTime>

// Source of "now", so that dates, times and midnight can be tested exactly.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

// While TZ is unset, glibc looks at /etc/localtime again (a stat) on every local-time conversion,
// several times a poll cycle. This pins TZ to that file, so the zone is read once; call it before
// any thread starts. SystemClock then looks at the file once a minute and takes in a changed zone.
void PinLocalTimeZone();

class SystemClock : public Clock {
public:
    QDateTime now() const override;
};

class SettableClock : public Clock {
public:
    explicit SettableClock(QDateTime start = QDateTime(QDate(2026, 12, 7), QTime(12, 0, 0)))
        : current_(std::move(start)) {}
    QDateTime now() const override { return current_; }
    void set(const QDateTime& t) { current_ = t; }
    void advance(qint64 ms) { current_ = current_.addMSecs(ms); }

private:
    QDateTime current_;
};

#pragma once

#include <QDateTime>

// Source of "now", so that dates, times and midnight can be tested exactly.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

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

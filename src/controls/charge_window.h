#pragma once

#include "controls/plan_settings.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>
#include <optional>

class QSettings;

extern const char* const kChargeSection;

// The nightly charge of the [charge] section: a span of local wall time that may cross
// midnight, a power and an optional target state of charge. A night is named by the date its
// window starts on.
struct ChargeWindow {
    QTime from;
    QTime to;
    double powerKw = 0;
    std::optional<int> targetSoc;

    bool enabled() const { return from.isValid() && to.isValid(); }
    // The start and end of a night's window as instants.
    QDateTime startOf(const QDate& night) const;
    QDateTime endOf(const QDate& night) const;
    // The night whose window holds t; invalid when t is outside every window.
    QDate nightHolding(const QDateTime& t) const;
    // "02:00-05:00".
    QString text() const;
};

// A local wall time on a date as an instant: a time in an hour that the change to summer time
// skips moves to the first valid time after it (02:30 becomes 03:00), and a time in the hour
// that the change back repeats is its first occurrence.
QDateTime WallTime(const QDate& date, const QTime& time);

// The [charge] section: the nightly window or a plan from the prices, and how long the program's end waits
// for the end of a charge to be confirmed.
struct ChargeSettings {
    ChargeWindow window;
    PlanSettings plan;
    int endWaitMs = 10000;
};

// Reads [charge] from conf; a missing section gives a window that is not enabled. False with a
// one-line reason for a section that is there but wrong.
bool ReadChargeSettings(QSettings& conf, ChargeSettings* settings, QString* error);

#pragma once

#include <QDateTime>
#include <QString>
#include <QTime>
#include <optional>

extern const char* const kChargeSection;

// The nightly charge of the [charge] section: a span of local time that may cross midnight, a
// power and an optional target state of charge.
struct ChargeWindow {
    QTime from;
    QTime to;
    double powerKw = 0;
    std::optional<int> targetSoc;

    bool enabled() const { return from.isValid() && to.isValid(); }
    // The start of the window that holds t (yesterday's start for the morning part of a window
    // across midnight); invalid when t is outside every window.
    QDateTime startHolding(const QDateTime& t) const;
    // The end of the window that starts at start.
    QDateTime endAfter(const QDateTime& start) const;
    // "02:00-05:00".
    QString text() const;
};

// The [charge] section of the settings file; a missing file or section gives a window that is
// not enabled. False with a one-line reason for a section that is there but wrong.
bool ReadChargeWindow(const QString& path, ChargeWindow* window, QString* error);

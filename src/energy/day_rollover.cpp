#include "energy/day_rollover.h"

#include "support/clock.h"

#include <QTimer>

void DayRollover::Loaded() {
    lastTickDate_ = clock_.now().date();
}

void DayRollover::CatchUp() {
    const QDate today = clock_.now().date();
    if (lastTickDate_.isValid() && today > lastTickDate_) {
        Save();
    }
    lastTickDate_ = today;
}

void DayRollover::MinuteTick() {
    const QDateTime now = clock_.now();
    if (now.time() >= QTime(23, 59, 0) && !watch_.isActive()) {
        watchArmedOn_ = now.date();
        watch_.start();
    }
}

void DayRollover::WatchTick() {
    // The first tick at or after the midnight that follows the arming saves the day, so a late
    // or coalesced tick cannot skip a night.
    if (!watchArmedOn_.isValid() || clock_.now() < QDateTime(watchArmedOn_.addDays(1), QTime(0, 0))) {
        return;
    }
    Save();
}

void DayRollover::Save() {
    const QDate today = clock_.now().date();
    watch_.stop();
    watchArmedOn_ = QDate(); // one save per arming, whatever ticks were already queued
    lastTickDate_ = today;
    if (nightSavedFor_ == today) {
        return; // one save per night
    }
    nightSavedFor_ = today;
    save_();
}

#pragma once

#include "history/history_rows.h"

#include <QMutex>
#include <QMutexLocker>

#include <vector>

// The rows handed over by the poll's thread and not yet taken by the writer.
class HistoryQueue {
public:
    // Returns how many cycles wait now.
    size_t addCycle(const CycleRow& row) {
        QMutexLocker lock(&mutex_);
        cycles_.push_back(row);
        return cycles_.size();
    }
    void addDay(const DayRow& row) {
        QMutexLocker lock(&mutex_);
        days_.push_back(row);
    }
    void take(std::vector<CycleRow>* cycles, std::vector<DayRow>* days) {
        QMutexLocker lock(&mutex_);
        cycles->insert(cycles->end(), cycles_.begin(), cycles_.end());
        days->insert(days->end(), days_.begin(), days_.end());
        cycles_.clear();
        days_.clear();
    }
    bool waiting(size_t cycles) const {
        QMutexLocker lock(&mutex_);
        return cycles_.size() >= cycles || !days_.empty();
    }
    std::vector<CycleRow> cycles() const {
        QMutexLocker lock(&mutex_);
        return cycles_;
    }

private:
    mutable QMutex mutex_;
    std::vector<CycleRow> cycles_;
    std::vector<DayRow> days_;
};

#pragma once

#include "history/history_rows.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <vector>

// A date and time as the classic files write them: the host's short date (or ISO), a blank, the
// long time (24-hour, or 12-hour with AM/PM). Invalid when the text is neither.
QDateTime ParseHostDateTime(const QString& text);

// Batches are handed over as they fill; take returns false to stop the reading.
using TakeDays = std::function<bool(std::vector<DayRow>&)>;
using TakeCycles = std::function<bool(std::vector<CycleRow>&)>;

// The daily summary's blocks: the header's date (the day that ended) and the block's four today
// counters and state of charge. A damaged block is skipped. False when take stopped it.
bool ReadDailySummary(const QString& path, size_t batch, const TakeDays& take);

// The state-of-charge log's lines as cycles that carry only BatteryPercent, read line by line.
bool ReadSocLog(const QString& path, size_t batch, const TakeCycles& take);

#pragma once

#include "history/history_rows.h"

#include <QDateTime>
#include <QString>

#include <vector>

// A date and time as the classic files write them: the host's short date (or ISO), a blank, the
// long time (24-hour, or 12-hour with AM/PM). Invalid when the text is neither.
QDateTime ParseHostDateTime(const QString& text);

// The daily summary's blocks: the header's date (the day that ended) and the block's four today
// counters and state of charge. A damaged block is skipped.
std::vector<DayRow> ReadDailySummary(const QString& path);

// The state-of-charge log's lines as cycles that carry only BatteryPercent.
std::vector<CycleRow> ReadSocLog(const QString& path);

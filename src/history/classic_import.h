#pragma once

#include "history/history_rows.h"

#include <QDateTime>
#include <QString>
#include <QTimeZone>

#include <functional>
#include <vector>

enum class DateOrder { DayMonthYear, MonthDayYear, YearMonthDay };

// What the classic files' local times are read with. Taken on the main thread (the zone and the
// default locale), so the writer's thread never asks the process for either.
struct ClassicDates {
    QTimeZone zone;
    DateOrder localeOrder = DateOrder::DayMonthYear;
    QString amText;
    QString pmText;
};
ClassicDates LocaleDates();

// A date and time as the classic files write them: the host's short date (or ISO), a blank, the
// long time (24-hour, or 12-hour with AM/PM or the locale's markers). Digits of any script are
// read. Both invalid when the text is neither.
struct HostDateTime {
    QDate date;
    QTime time;
};
HostDateTime ParseHostDateTime(const QString& text, DateOrder order, const ClassicDates& dates);

// How one file's reading went, for the import's status line.
struct ImportTally {
    QString file;
    int rows = 0;
    int unreadable = 0; // lines that are none of the file's own
    DateOrder order = DateOrder::DayMonthYear;
    bool orderFromLocale = false; // no date of the file settles it
};
// "81 lines from BatterySoC.log (dates read day/month/year: the locale's order, no date in the
// file settles it; 3 lines could not be read)"; empty when the file gave nothing to say.
QString TallyText(const ImportTally& tally, const char* rowsName);

// Batches are handed over as they fill; take returns false to stop the reading.
using TakeDays = std::function<bool(std::vector<DayRow>&)>;
using TakeCycles = std::function<bool(std::vector<CycleRow>&)>;

// The daily summary's blocks: the header's date (the day that ended) and the block's four today
// counters and state of charge. A counter whose day equals its lifetime had no night baseline:
// it is left out, as a live day without one. A damaged block is skipped. False when take stopped it.
bool ReadDailySummary(const QString& path, const ClassicDates& dates, size_t batch, const TakeDays& take,
                      ImportTally* tally);

// The state-of-charge log's lines as cycles that carry only BatteryPercent, read line by line.
// Each line's local time takes the offset that keeps the file in order, so the hour the clocks go
// back over stays two hours.
bool ReadSocLog(const QString& path, const ClassicDates& dates, size_t batch, const TakeCycles& take,
                ImportTally* tally);

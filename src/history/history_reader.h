#pragma once

#include "history/history_rows.h"
#include "history/sqlite.h"

#include <functional>
#include <vector>

// A read-only connection to history.sqlite, for the window and the export. A store of the
// earlier layout (not yet converted by a running program) is read as well, cycle rows only.
class HistoryReader {
public:
    // A missing file is an error; nothing is created.
    bool open(const QString& path, DbError* error);
    void close() { db_.close(); }
    bool isOpen() const { return db_.isOpen(); }
    // Stops a query running on another thread.
    void interrupt() { db_.interrupt(); }

    // The minutes in [fromMs, toMs), oldest first: at most 1,440 a day.
    bool minutes(qint64 fromMs, qint64 toMs, std::vector<MinuteRow>* rows, DbError* error);
    // Days from first to last, inclusive, oldest first.
    bool days(const QDate& first, const QDate& last, std::vector<DayRow>* rows, DbError* error);
    // The oldest day with a cycle or a daily row; invalid when the store is empty.
    QDate firstDate();
    // Calls take for each cycle in [fromMs, toMs), oldest first, one packed row in memory at a time.
    bool eachCycle(qint64 fromMs, qint64 toMs, const std::function<void(const CycleRow&)>& take,
                   DbError* error);

private:
    bool earlierCycles(qint64 fromMs, qint64 toMs, const std::function<void(const CycleRow&)>& take,
                       DbError* error);

    Sqlite db_;
    bool earlier_ = false;
};

// A store of the earlier layout: its columns, and a cycle read from them.
QByteArray EarlierColumns();
CycleRow EarlierRow(const Statement& query);

// Local midnight at the start of a day, in milliseconds since the epoch.
qint64 DayStartMs(const QDate& day);

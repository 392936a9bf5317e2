#pragma once

#include "history/history_rows.h"
#include "history/sqlite.h"

#include <vector>

extern const char* const kHistoryFile;

// The writer's connection to history.sqlite: the schema, the rows in, thinning in bounded batches.
// Cycles are kept packed, at most a minute of them to a row; each minute also gets a row of its
// ranges for charts. The write-ahead log is checkpointed and cut back after each large step.
class HistoryFile {
public:
    // Creates the file and its tables when missing. *fresh: nothing imported yet.
    bool open(const QString& path, bool* fresh, DbError* error);
    void close();
    bool isOpen() const { return db_.isOpen(); }

    bool begin(DbError* error) { return db_.exec("BEGIN", error); }
    bool commit(DbError* error) { return db_.exec("COMMIT", error); }
    void rollback();
    // Cycles in time order, as one or more packed rows and their minutes.
    bool insertCycles(const std::vector<CycleRow>& rows, DbError* error);
    bool insertDays(const std::vector<DayRow>& rows, DbError* error);
    bool markImported(DbError* error);
    // Every row gone, for an import that starts again.
    bool clear(DbError* error) {
        return db_.exec("DELETE FROM chunks;DELETE FROM minutes;DELETE FROM daily", error);
    }

    // One bounded step of thinning, in its own transaction: the cycles of the oldest hour not yet
    // thinned that lies before cutoffMs kept to the first of every 5 minutes. False when nothing
    // is left before the cutoff or on a failure (error->code set).
    bool thinStep(qint64 cutoffMs, DbError* error);
    // The oldest hour of cycles dropped, their minutes kept, for a store over its size cap; none
    // from before limitMs. False when there is none.
    bool dropOldestHour(qint64 limitMs, DbError* error);
    // The time up to which cycles are thinned.
    qint64 thinnedBefore();
    // Copies the log into the file and cuts it back, and gives freed pages back to the disk.
    void checkpoint();
    void shrink();
    // The file and its log, in bytes.
    qint64 bytesOnDisk() const;

private:
    bool setUp(bool* fresh, DbError* error);
    bool insertPacked(qint64 key, const QByteArray& packed, DbError* error);
    bool addMinute(const MinuteRow& minute, DbError* error);

    QString path_;
    Sqlite db_;
    Statement insertChunk_;
    Statement upsertMinute_;
};

// Adds a cycle to its minute's row.
void AddToMinute(const CycleRow& row, MinuteRow* minute);

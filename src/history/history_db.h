#pragma once

#include "history/history_rows.h"

#include <QSqlDatabase>
#include <QString>

#include <vector>

struct sqlite3;
struct sqlite3_stmt;

// Why a step on the store failed: SQLite's primary result code and its text.
struct DbError {
    int code = 0;
    QString text;
    bool corrupt() const { return code == 11 || code == 26; } // SQLITE_CORRUPT, SQLITE_NOTADB
};

// One connection to history.sqlite: the schema, the pragmas, the rows in and out. Each instance
// has a connection of its own, so the writer's thread and the window's reads never share one.
class HistoryDb {
public:
    HistoryDb();
    ~HistoryDb();
    HistoryDb(const HistoryDb&) = delete;
    HistoryDb& operator=(const HistoryDb&) = delete;

    // For writing: creates the file and its tables when missing (WAL, synchronous=NORMAL).
    // *created tells that the tables were new, so the classic files are to be imported.
    bool openForWriting(const QString& path, bool* created, DbError* error);
    // For reading only: a missing file is an error, nothing is created.
    bool openForReading(const QString& path, DbError* error);
    void close();
    bool isOpen() const;

    bool begin(DbError* error);
    bool commit(DbError* error);
    void rollback();
    bool insertCycles(const std::vector<CycleRow>& rows, DbError* error);
    bool insertDays(const std::vector<DayRow>& rows, DbError* error);
    // Cycles before cutoffMs thinned to the first of every 5 minutes.
    bool thin(qint64 cutoffMs, DbError* error);
    // The classic files are in: a later start does not import them again.
    bool markImported(DbError* error);

    // Rows in [fromMs, toMs), oldest first. With bucketMs > 0 the rows of each bucket are averaged
    // into one, so that a day of fast polling stays a chart's worth of points.
    bool cycles(qint64 fromMs, qint64 toMs, qint64 bucketMs, std::vector<CycleRow>* rows, DbError* error);
    qint64 countCycles(qint64 fromMs, qint64 toMs);
    // The oldest day with a cycle or a daily row; invalid when the store is empty.
    QDate firstDate();
    // Days from first to last, inclusive, oldest first.
    bool days(const QDate& first, const QDate& last, std::vector<DayRow>* rows, DbError* error);

private:
    bool setUp(bool* created, DbError* error);
    bool exec(const QString& sql, DbError* error);
    QSqlDatabase db() const;
    // The connection's own handle and a statement prepared on it once, for what runs every batch.
    sqlite3* handle() const;
    bool prepared(sqlite3_stmt** statement, const QByteArray& sql, DbError* error);
    bool step(sqlite3_stmt* statement, DbError* error);

    QString name_;
    sqlite3_stmt* insertCycle_ = nullptr;
    sqlite3_stmt* begin_ = nullptr;
    sqlite3_stmt* commit_ = nullptr;
};

// Local midnight at the start of a day, in milliseconds since the epoch.
qint64 DayStartMs(const QDate& day);

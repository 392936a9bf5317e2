#include "history/history_file.h"

#include <QFileInfo>

#include <algorithm>

const char* const kHistoryFile = "history.sqlite";

namespace {
constexpr qint64 kMinuteMs = 60000;
constexpr qint64 kHourMs = 3600000;
constexpr qint64 kThinSlotMs = 300000;
// The level and the counters: the figures a minute keeps the last of.
constexpr int kLastFigures[] = {5, 6, 7, 8, 9};

QByteArray MinuteColumns() {
    QByteArray columns = "minute,count,soc_count";
    for (const char* part : {"low", "high", "sum"}) {
        for (int i = 0; i < MinuteRow::kRanged; ++i) {
            columns += QByteArray(",") + part + QByteArray::number(i);
        }
    }
    for (const int f : kLastFigures) {
        columns += QByteArray(",last") + QByteArray::number(f);
    }
    return columns;
}

// Merging a minute already stored (after a restart within the minute): counts and sums add up,
// ranges widen, the last figures are the newer ones.
QByteArray MinuteMerge() {
    QByteArray set = "count=count+excluded.count,soc_count=soc_count+excluded.soc_count";
    for (int i = 0; i < MinuteRow::kRanged; ++i) {
        const QByteArray n = QByteArray::number(i);
        set += ",low" + n + "=min(coalesce(low" + n + ",excluded.low" + n + "),coalesce(excluded.low" + n +
               ",low" + n + "))";
        set += ",high" + n + "=max(coalesce(high" + n + ",excluded.high" + n + "),coalesce(excluded.high" +
               n + ",high" + n + "))";
        set += ",sum" + n + "=sum" + n + "+excluded.sum" + n;
    }
    for (const int f : kLastFigures) {
        const QByteArray n = QByteArray::number(f);
        set += ",last" + n + "=coalesce(excluded.last" + n + ",last" + n + ")";
    }
    return set;
}

QByteArray DayColumnsSql(const char* type) {
    QByteArray columns;
    for (const char* c : kDayColumns) {
        columns += QByteArray(",") + c + " " + type;
    }
    return columns;
}
} // namespace

void AddToMinute(const CycleRow& row, MinuteRow* minute) {
    for (int i = 0; i < MinuteRow::kRanged; ++i) {
        if (!row.has(i)) {
            continue;
        }
        const auto f = static_cast<size_t>(i);
        const qint64 v = row.units[f];
        const bool none = (minute->present >> i & 1u) == 0;
        minute->low[f] = none ? v : std::min(minute->low[f], v);
        minute->high[f] = none ? v : std::max(minute->high[f], v);
        minute->sum[f] += v;
        minute->present |= 1u << i;
    }
    minute->socCount += row.has(0) ? 1 : 0;
    minute->count += row.has(1) ? 1 : 0;
    for (const int f : kLastFigures) {
        if (row.has(f)) {
            minute->last.units[static_cast<size_t>(f)] = row.units[static_cast<size_t>(f)];
            minute->last.present |= 1u << f;
        }
    }
}

bool HistoryFile::open(const QString& path, bool* fresh, DbError* error) {
    close();
    path_ = path;
    if (QFileInfo(path).isDir()) {
        *error = {14, QStringLiteral("a folder is in its place")}; // SQLITE_CANTOPEN
        return false;
    }
    // Another program holding the file waits the writer's thread a little, never the poll.
    if (!db_.open(path, false, 200, error) || !setUp(fresh, error)) {
        close();
        return false;
    }
    return true;
}

bool HistoryFile::setUp(bool* fresh, DbError* error) {
    // Freed pages go back to the disk in small steps (set before the first table, or it stays
    // off); the log is cut back to 8 MB after each checkpoint. Rows are appended and seldom read
    // back here: a small page cache keeps the writer's memory down.
    if (!db_.exec("PRAGMA auto_vacuum=INCREMENTAL;"
                  "PRAGMA journal_mode=WAL;"
                  "PRAGMA synchronous=NORMAL;"
                  "PRAGMA journal_size_limit=8388608;"
                  "PRAGMA cache_size=-256",
                  error)) {
        return false;
    }
    *fresh = db_.value("PRAGMA user_version", 0) < 2;
    const QByteArray tables =
        "CREATE TABLE IF NOT EXISTS chunks(start INTEGER PRIMARY KEY, cycles BLOB NOT NULL);"
        "CREATE TABLE IF NOT EXISTS minutes(" +
        MinuteColumns().replace("minute,", "minute INTEGER PRIMARY KEY,") +
        ");"
        "CREATE TABLE IF NOT EXISTS daily(date TEXT PRIMARY KEY" +
        DayColumnsSql("REAL") +
        ") WITHOUT ROWID;"
        "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value INTEGER) WITHOUT ROWID";
    if (!db_.exec(tables.constData(), error)) {
        return false;
    }
    QByteArray values = "?";
    for (int i = 1; i < MinuteColumns().count(',') + 1; ++i) {
        values += ",?";
    }
    return insertChunk_.prepare(db_, "INSERT OR IGNORE INTO chunks(start,cycles) VALUES(?,?)", error) &&
           upsertMinute_.prepare(db_,
                                 "INSERT INTO minutes(" + MinuteColumns() + ") VALUES(" + values +
                                     ") ON CONFLICT(minute) DO UPDATE SET " + MinuteMerge(),
                                 error);
}

void HistoryFile::close() {
    insertChunk_.finalize();
    upsertMinute_.finalize();
    db_.close();
}

void HistoryFile::rollback() {
    DbError ignored; // nothing to undo when the transaction never began
    db_.exec("ROLLBACK", &ignored);
}

bool HistoryFile::insertPacked(qint64 key, const QByteArray& packed, DbError* error) {
    // The key only places the packed cycles in time; two of them starting in the same millisecond
    // (a clock set back) both stay, the later one a millisecond on.
    for (int attempt = 0; attempt < 1000; ++attempt, ++key) {
        insertChunk_.bind(1, key);
        insertChunk_.bind(2, packed);
        if (!insertChunk_.run(error)) {
            return false;
        }
        if (db_.changes() > 0) {
            return true;
        }
    }
    *error = {19, QStringLiteral("no free key")}; // SQLITE_CONSTRAINT
    return false;
}

bool HistoryFile::addMinute(const MinuteRow& m, DbError* error) {
    int c = 1;
    upsertMinute_.bind(c++, m.minute);
    upsertMinute_.bind(c++, m.count);
    upsertMinute_.bind(c++, m.socCount);
    for (const auto* part : {&m.low, &m.high, &m.sum}) {
        for (int i = 0; i < MinuteRow::kRanged; ++i) {
            if ((m.present >> i & 1u) == 0 && part != &m.sum) {
                upsertMinute_.bindNull(c++);
            } else {
                upsertMinute_.bind(c++, (*part)[static_cast<size_t>(i)]);
            }
        }
    }
    for (const int f : kLastFigures) {
        if (m.last.has(f)) {
            upsertMinute_.bind(c++, m.last.units[static_cast<size_t>(f)]);
        } else {
            upsertMinute_.bindNull(c++);
        }
    }
    return upsertMinute_.run(error);
}

bool HistoryFile::insertCycles(const std::vector<CycleRow>& rows, DbError* error) {
    size_t begin = 0;
    while (begin < rows.size()) {
        // One packed row and one minute row for each minute the cycles fall in.
        const qint64 minute = rows[begin].timeMs / kMinuteMs;
        MinuteRow summary;
        summary.minute = minute;
        size_t end = begin;
        while (end < rows.size() && rows[end].timeMs / kMinuteMs == minute) {
            AddToMinute(rows[end], &summary);
            ++end;
        }
        if (!insertPacked(rows[begin].timeMs, PackCycles(&rows[begin], end - begin), error) ||
            !addMinute(summary, error)) {
            return false;
        }
        begin = end;
    }
    return true;
}

bool HistoryFile::insertDays(const std::vector<DayRow>& rows, DbError* error) {
    if (rows.empty()) {
        return true;
    }
    Statement insert;
    if (!insert.prepare(db_, "INSERT OR REPLACE INTO daily VALUES(?,?,?,?,?,?)", error)) {
        return false;
    }
    for (const DayRow& row : rows) {
        insert.bind(1, row.date.toString(Qt::ISODate));
        for (int i = 0; i < DayRow::kFigures; ++i) {
            insert.bind(i + 2, row.figures[static_cast<size_t>(i)]);
        }
        if (!insert.run(error)) {
            return false;
        }
    }
    return true;
}

bool HistoryFile::markImported(DbError* error) {
    return db_.exec("PRAGMA user_version=2", error);
}

qint64 HistoryFile::thinnedBefore() {
    // Hours with no cycles are not stepped through one by one.
    const qint64 oldest = db_.value("SELECT MIN(start) FROM chunks", 0) / kHourMs * kHourMs;
    return std::max(db_.value("SELECT value FROM meta WHERE key='thinned_before'", 0), oldest);
}

bool HistoryFile::thinStep(qint64 cutoffMs, DbError* error) {
    const qint64 from = thinnedBefore();
    const qint64 to = std::min(from + kHourMs, cutoffMs / kHourMs * kHourMs);
    if (from <= 0 || to <= from) {
        return false;
    }
    Statement read;
    Statement write;
    Statement remove;
    Statement mark;
    if (!begin(error) ||
        !read.prepare(db_, "SELECT start,cycles FROM chunks WHERE start>=? AND start<?", error) ||
        !write.prepare(db_, "UPDATE chunks SET cycles=? WHERE start=?", error) ||
        !remove.prepare(db_, "DELETE FROM chunks WHERE start=?", error) ||
        !mark.prepare(db_, "INSERT OR REPLACE INTO meta VALUES('thinned_before',?)", error)) {
        rollback();
        return false;
    }
    read.bind(1, from);
    read.bind(2, to);
    std::vector<std::pair<qint64, QByteArray>> changed;
    qint64 lastSlot = -1;
    while (read.next(error)) {
        int size = 0;
        const char* data = read.blob(1, &size);
        std::vector<CycleRow> kept;
        bool dropped = false;
        UnpackCycles(data, size, [&](const CycleRow& row) {
            const qint64 slot = row.timeMs / kThinSlotMs;
            if (slot != lastSlot) {
                kept.push_back(row);
                lastSlot = slot;
            } else {
                dropped = true;
            }
        });
        if (dropped) {
            changed.emplace_back(read.integer(0), PackCycles(kept.data(), kept.size()));
        }
    }
    if (error->code != 0) {
        rollback();
        return false;
    }
    for (const auto& [key, packed] : changed) {
        Statement& step = packed.isEmpty() ? remove : write;
        int c = 1;
        if (!packed.isEmpty()) {
            step.bind(c++, packed);
        }
        step.bind(c, key);
        if (!step.run(error)) {
            rollback();
            return false;
        }
    }
    mark.bind(1, to);
    if (!mark.run(error) || !commit(error)) {
        rollback();
        return false;
    }
    return true;
}

bool HistoryFile::dropOldestHour(qint64 limitMs, DbError* error) {
    const qint64 oldest = db_.value("SELECT MIN(start) FROM chunks", -1);
    if (oldest < 0 || oldest >= limitMs) {
        return false;
    }
    Statement remove;
    if (!remove.prepare(db_, "DELETE FROM chunks WHERE start<?", error)) {
        return false;
    }
    remove.bind(1, (oldest / kHourMs + 1) * kHourMs);
    return remove.run(error);
}

void HistoryFile::checkpoint() {
    DbError ignored; // a reader holding the log back lets it be cut back at the next one
    db_.exec("PRAGMA wal_checkpoint(TRUNCATE)", &ignored);
}

void HistoryFile::shrink() {
    DbError ignored;
    // At most 8 MB a step, so the log stays small.
    db_.exec("PRAGMA incremental_vacuum(2048)", &ignored);
}

qint64 HistoryFile::bytesOnDisk() const {
    return QFileInfo(path_).size() + QFileInfo(path_ + QStringLiteral("-wal")).size();
}

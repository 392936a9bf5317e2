#include "history/history_convert.h"

#include "history/history_file.h"
#include "history/history_reader.h"

#include <QFile>

#include <cstdio>
#include <limits>

namespace {
constexpr int kBatchRows = 50000;

void RemoveWithLog(const QString& path) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
        QFile::remove(path + QLatin1String(suffix));
    }
}

bool CopyCycles(Sqlite& old, HistoryFile& target, const std::function<bool()>& roomLeft, DbError* error) {
    Statement read;
    if (!read.prepare(old,
                      "SELECT " + EarlierColumns() + " FROM cycles WHERE time>? ORDER BY time LIMIT " +
                          QByteArray::number(kBatchRows),
                      error)) {
        return false;
    }
    std::vector<CycleRow> rows;
    rows.reserve(kBatchRows);
    qint64 after = std::numeric_limits<qint64>::min();
    while (true) {
        if (!roomLeft()) {
            *error = {13, QStringLiteral("too little room to convert the file")}; // SQLITE_FULL
            return false;
        }
        rows.clear();
        read.bind(1, after);
        while (read.next(error)) {
            rows.push_back(EarlierRow(read));
        }
        if (error->code != 0) {
            return false;
        }
        if (rows.empty()) {
            return true;
        }
        after = rows.back().timeMs;
        if (!target.begin(error) || !target.insertCycles(rows, error) || !target.commit(error)) {
            return false;
        }
        target.checkpoint();
    }
}

bool CopyDays(Sqlite& old, HistoryFile& target, DbError* error) {
    Statement read;
    if (!read.prepare(old, "SELECT * FROM daily", error)) {
        return false;
    }
    std::vector<DayRow> days;
    while (read.next(error)) {
        DayRow day;
        day.date = QDate::fromString(read.text(0), Qt::ISODate);
        for (int i = 0; i < DayRow::kFigures; ++i) {
            day.figures[static_cast<size_t>(i)] = read.real(i + 1);
        }
        days.push_back(day);
    }
    return error->code == 0 && target.begin(error) && target.insertDays(days, error) &&
           (old.value("PRAGMA user_version", 0) < 1 || target.markImported(error)) && target.commit(error);
}
} // namespace

bool IsEarlierStore(const QString& path) {
    Sqlite db;
    DbError error;
    return QFile::exists(path) && db.open(path, true, 1000, &error) &&
           db.value("SELECT COUNT(*) FROM pragma_table_info('cycles') WHERE name='BatteryPercent'", 0) > 0;
}

bool ConvertEarlierStore(const QString& path, const std::function<bool()>& roomLeft, DbError* error) {
    const QString building = path + QStringLiteral(".converting");
    RemoveWithLog(building);
    bool ok = false;
    {
        Sqlite old;
        HistoryFile target;
        bool fresh = false;
        // Its log emptied first: the new file takes the old one's place without it.
        ok = old.open(path, false, 1000, error) && old.exec("PRAGMA wal_checkpoint(TRUNCATE)", error) &&
             target.open(building, &fresh, error) && CopyCycles(old, target, roomLeft, error) &&
             CopyDays(old, target, error);
    }
    if (ok) {
        QFile::remove(path + QStringLiteral("-wal"));
        QFile::remove(path + QStringLiteral("-shm"));
        ok = std::rename(QFile::encodeName(building).constData(), QFile::encodeName(path).constData()) == 0;
        if (!ok) {
            *error = {10, QStringLiteral("the converted file could not take the old one's place")};
        }
    }
    if (!ok) {
        RemoveWithLog(building);
    }
    return ok;
}

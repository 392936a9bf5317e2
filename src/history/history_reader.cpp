#include "history/history_reader.h"

#include <QDateTime>
#include <QFileInfo>

namespace {
constexpr qint64 kMinuteMs = 60000;
} // namespace

qint64 DayStartMs(const QDate& day) {
    return QDateTime(day, QTime(0, 0)).toMSecsSinceEpoch();
}

bool HistoryReader::open(const QString& path, DbError* error) {
    if (!QFileInfo(path).isFile()) {
        *error = {14, QStringLiteral("no history store here")};
        return false;
    }
    if (!db_.open(path, true, 5000, error)) {
        return false;
    }
    earlier_ =
        db_.value("SELECT COUNT(*) FROM pragma_table_info('cycles') WHERE name='BatteryPercent'", 0) > 0;
    if (!db_.exec(earlier_ ? "SELECT 1 FROM daily LIMIT 0" : "SELECT 1 FROM chunks, minutes, daily LIMIT 0",
                  error)) {
        db_.close();
        return false;
    }
    return true;
}

bool HistoryReader::minutes(qint64 fromMs, qint64 toMs, std::vector<MinuteRow>* rows, DbError* error) {
    if (earlier_) {
        return true; // charts wait for the running program to convert the file
    }
    Statement query;
    if (!query.prepare(db_,
                       "SELECT minute,count,soc_count,low0,low1,low2,low3,low4,high0,high1,high2,high3,high4,"
                       "sum0,sum1,sum2,sum3,sum4 FROM minutes WHERE minute>=? AND minute<? ORDER BY minute",
                       error)) {
        return false;
    }
    query.bind(1, fromMs / kMinuteMs);
    query.bind(2, (toMs + kMinuteMs - 1) / kMinuteMs);
    while (query.next(error)) {
        MinuteRow row;
        row.minute = query.integer(0);
        row.count = query.integer(1);
        row.socCount = query.integer(2);
        for (size_t i = 0; i < MinuteRow::kRanged; ++i) {
            row.present |= query.isNull(3 + static_cast<int>(i)) ? 0u : 1u << i;
            row.low[i] = query.integer(3 + static_cast<int>(i));
            row.high[i] = query.integer(8 + static_cast<int>(i));
            row.sum[i] = query.integer(13 + static_cast<int>(i));
        }
        rows->push_back(row);
    }
    return error->code == 0;
}

bool HistoryReader::days(const QDate& first, const QDate& last, std::vector<DayRow>* rows, DbError* error) {
    Statement query;
    if (!query.prepare(db_, "SELECT * FROM daily WHERE date>=? AND date<=? ORDER BY date", error)) {
        return false;
    }
    query.bind(1, first.toString(Qt::ISODate));
    query.bind(2, last.toString(Qt::ISODate));
    while (query.next(error)) {
        DayRow row;
        row.date = QDate::fromString(query.text(0), Qt::ISODate);
        for (int i = 0; i < DayRow::kFigures; ++i) {
            row.figures[static_cast<size_t>(i)] = query.real(i + 1);
        }
        rows->push_back(row);
    }
    return error->code == 0;
}

QDate HistoryReader::firstDate() {
    QDate first;
    const qint64 oldest =
        db_.value(earlier_ ? "SELECT MIN(time) FROM cycles" : "SELECT MIN(start) FROM chunks", -1);
    if (oldest >= 0) {
        first = QDateTime::fromMSecsSinceEpoch(oldest).date();
    }
    Statement query;
    DbError error;
    if (query.prepare(db_, "SELECT MIN(date) FROM daily", &error) && query.next(&error) && !query.isNull(0)) {
        const QDate day = QDate::fromString(query.text(0), Qt::ISODate);
        if (!first.isValid() || day < first) {
            first = day;
        }
    }
    return first;
}

bool HistoryReader::eachCycle(qint64 fromMs, qint64 toMs, const std::function<void(const CycleRow&)>& take,
                              DbError* error) {
    if (earlier_) {
        return earlierCycles(fromMs, toMs, take, error);
    }
    // A packed row holds the cycles of one minute, keyed by its first.
    Statement query;
    if (!query.prepare(db_, "SELECT cycles FROM chunks WHERE start>=? AND start<? ORDER BY start", error)) {
        return false;
    }
    query.bind(1, fromMs - kMinuteMs);
    query.bind(2, toMs);
    while (query.next(error)) {
        int size = 0;
        const char* data = query.blob(0, &size);
        const bool whole = UnpackCycles(data, size, [&](const CycleRow& row) {
            if (row.timeMs >= fromMs && row.timeMs < toMs) {
                take(row);
            }
        });
        if (!whole) {
            *error = {11, QStringLiteral("a packed row of cycles is damaged")}; // SQLITE_CORRUPT
            return false;
        }
    }
    return error->code == 0;
}

QByteArray EarlierColumns() {
    QByteArray columns = "time";
    for (const char* c : kCycleColumns) {
        columns += QByteArray(",") + c;
    }
    return columns;
}

CycleRow EarlierRow(const Statement& query) {
    CycleRow row;
    row.timeMs = query.integer(0);
    for (int i = 0; i < CycleRow::kFigures; ++i) {
        row.set(i, query.real(i + 1));
    }
    return row;
}

bool HistoryReader::earlierCycles(qint64 fromMs, qint64 toMs,
                                  const std::function<void(const CycleRow&)>& take, DbError* error) {
    Statement query;
    if (!query.prepare(db_,
                       "SELECT " + EarlierColumns() + " FROM cycles WHERE time>=? AND time<? ORDER BY time",
                       error)) {
        return false;
    }
    query.bind(1, fromMs);
    query.bind(2, toMs);
    while (query.next(error)) {
        take(EarlierRow(query));
    }
    return error->code == 0;
}

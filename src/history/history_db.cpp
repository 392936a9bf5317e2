#include "history/history_db.h"

#include <QAtomicInt>
#include <QDateTime>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <cmath>
#include <sqlite3.h>

namespace {
QAtomicInt connectionCount;

DbError ErrorOf(const QSqlError& e) {
    bool ok = false;
    const int code = e.nativeErrorCode().toInt(&ok);
    // Extended result codes carry the primary one in their low byte.
    return {ok ? (code & 0xff) : 1, e.text()};
}

void Fail(DbError* error, const QSqlError& e) {
    if (error != nullptr) {
        *error = ErrorOf(e);
    }
}

QVariant Value(double v) {
    return std::isnan(v) ? QVariant() : QVariant(v);
}

double FromVariant(const QVariant& v) {
    return v.isNull() ? Absent() : v.toDouble();
}

QString CycleColumnList() {
    QStringList names;
    for (const char* c : kCycleColumns) {
        names << QLatin1String(c);
    }
    return names.join(QLatin1Char(','));
}

QString DayColumnList() {
    QStringList names;
    for (const char* c : kDayColumns) {
        names << QLatin1String(c);
    }
    return names.join(QLatin1Char(','));
}
} // namespace

qint64 DayStartMs(const QDate& day) {
    return QDateTime(day, QTime(0, 0)).toMSecsSinceEpoch();
}

HistoryDb::HistoryDb() : name_(QStringLiteral("history-%1").arg(connectionCount.fetchAndAddRelaxed(1))) {}

HistoryDb::~HistoryDb() {
    close();
}

QSqlDatabase HistoryDb::db() const {
    return QSqlDatabase::database(name_, false);
}

bool HistoryDb::isOpen() const {
    return QSqlDatabase::contains(name_) && db().isOpen();
}

void HistoryDb::close() {
    for (sqlite3_stmt** statement : {&insertCycle_, &begin_, &commit_}) {
        sqlite3_finalize(*statement); // a no-op for none
        *statement = nullptr;
    }
    if (!QSqlDatabase::contains(name_)) {
        return;
    }
    {
        QSqlDatabase d = db();
        d.close();
    }
    QSqlDatabase::removeDatabase(name_);
}

bool HistoryDb::exec(const QString& sql, DbError* error) {
    QSqlQuery q(db());
    if (!q.exec(sql)) {
        Fail(error, q.lastError());
        return false;
    }
    return true;
}

bool HistoryDb::openForWriting(const QString& path, bool* created, DbError* error) {
    close();
    if (QFileInfo(path).isDir()) {
        *error = {14, QStringLiteral("a folder is in its place")}; // SQLITE_CANTOPEN
        return false;
    }
    bool ok = false;
    {
        QSqlDatabase d = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
        d.setDatabaseName(path);
        // Another program holding the file waits the writer's thread a little, never the poll.
        d.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=200"));
        if (d.open()) {
            ok = setUp(created, error);
        } else {
            Fail(error, d.lastError());
        }
    }
    if (!ok) {
        close();
    }
    return ok;
}

bool HistoryDb::setUp(bool* created, DbError* error) {
    // SQLite's per-connection lookaside pool (about 120 KB) speeds up statements compiled over
    // and over; the writer prepares its few once.
    if (sqlite3* connection = handle()) {
        sqlite3_db_config(connection, SQLITE_DBCONFIG_LOOKASIDE, nullptr, 0, 0);
    }
    QSqlQuery version(db());
    if (!version.exec(QStringLiteral("PRAGMA user_version")) || !version.next()) {
        Fail(error, version.lastError());
        return false;
    }
    *created = version.value(0).toInt() == 0;
    version.finish();
    const QString setup[] = {
        QStringLiteral("PRAGMA journal_mode=WAL"),
        QStringLiteral("PRAGMA synchronous=NORMAL"),
        // Rows are appended, hardly ever read back by this connection: a small page cache keeps
        // the writer's memory down (the default is 2 MB).
        QStringLiteral("PRAGMA cache_size=-256"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS cycles(time INTEGER PRIMARY KEY,") +
            CycleColumnList().replace(QLatin1Char(','), QStringLiteral(" REAL,")) + QStringLiteral(" REAL)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS daily(date TEXT PRIMARY KEY,") +
            DayColumnList().replace(QLatin1Char(','), QStringLiteral(" REAL,")) +
            QStringLiteral(" REAL) WITHOUT ROWID"),
    };
    for (const QString& sql : setup) {
        if (!exec(sql, error)) {
            return false;
        }
    }
    return true;
}

bool HistoryDb::openForReading(const QString& path, DbError* error) {
    close();
    if (!QFileInfo(path).isFile()) {
        *error = {14, QStringLiteral("no history store here")};
        return false;
    }
    bool ok = false;
    {
        QSqlDatabase d = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
        d.setDatabaseName(path);
        d.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=1000"));
        if (d.open()) {
            ok = exec(QStringLiteral("SELECT 1 FROM cycles, daily LIMIT 0"), error);
        } else {
            Fail(error, d.lastError());
        }
    }
    if (!ok) {
        close();
    }
    return ok;
}

sqlite3* HistoryDb::handle() const {
    const QVariant h = db().driver()->handle();
    return h.isValid() ? *static_cast<sqlite3* const*>(h.constData()) : nullptr;
}

bool HistoryDb::prepared(sqlite3_stmt** statement, const QByteArray& sql, DbError* error) {
    if (*statement != nullptr) {
        return true;
    }
    sqlite3* connection = handle();
    if (connection == nullptr) {
        *error = {1, QStringLiteral("no connection")};
        return false;
    }
    if (sqlite3_prepare_v2(connection, sql.constData(), -1, statement, nullptr) != SQLITE_OK) {
        *error = {sqlite3_errcode(connection) & 0xff, QString::fromUtf8(sqlite3_errmsg(connection))};
        return false;
    }
    return true;
}

bool HistoryDb::step(sqlite3_stmt* statement, DbError* error) {
    const int rc = sqlite3_step(statement);
    sqlite3_reset(statement);
    if (rc != SQLITE_DONE) {
        *error = {rc & 0xff, QString::fromUtf8(sqlite3_errstr(rc))};
        return false;
    }
    return true;
}

// Prepared once: compiling BEGIN and COMMIT through Qt for every batch was most of an idle
// commit's work.
bool HistoryDb::begin(DbError* error) {
    return prepared(&begin_, "BEGIN", error) && step(begin_, error);
}

bool HistoryDb::commit(DbError* error) {
    return prepared(&commit_, "COMMIT", error) && step(commit_, error);
}

void HistoryDb::rollback() {
    db().rollback();
}

bool HistoryDb::insertCycles(const std::vector<CycleRow>& rows, DbError* error) {
    // Straight through SQLite's own statement: Qt's binding costs several microseconds a row,
    // most of a cycle's budget at a 1 ms poll rate.
    if (insertCycle_ == nullptr &&
        !prepared(&insertCycle_,
                  QStringLiteral("INSERT OR REPLACE INTO cycles(time,%1) VALUES(?%2)")
                      .arg(CycleColumnList(), QStringLiteral(",?").repeated(CycleRow::kFigures))
                      .toLatin1(),
                  error)) {
        return false;
    }
    for (const CycleRow& row : rows) {
        // Two cycles in the same millisecond keep the later one.
        sqlite3_bind_int64(insertCycle_, 1, row.timeMs);
        for (int i = 0; i < CycleRow::kFigures; ++i) {
            const double v = row.figures[static_cast<size_t>(i)];
            if (std::isnan(v)) {
                sqlite3_bind_null(insertCycle_, i + 2);
            } else {
                sqlite3_bind_double(insertCycle_, i + 2, v);
            }
        }
        if (!step(insertCycle_, error)) {
            return false;
        }
    }
    return true;
}

bool HistoryDb::insertDays(const std::vector<DayRow>& rows, DbError* error) {
    if (rows.empty()) {
        return true; // most batches: no statement to compile
    }
    QSqlQuery q(db());
    q.prepare(QStringLiteral("INSERT OR REPLACE INTO daily(date,%1) VALUES(?%2)")
                  .arg(DayColumnList(), QStringLiteral(",?").repeated(DayRow::kFigures)));
    for (const DayRow& row : rows) {
        q.bindValue(0, row.date.toString(Qt::ISODate));
        for (int i = 0; i < DayRow::kFigures; ++i) {
            q.bindValue(i + 1, Value(row.figures[static_cast<size_t>(i)]));
        }
        if (!q.exec()) {
            Fail(error, q.lastError());
            return false;
        }
    }
    return true;
}

bool HistoryDb::thin(qint64 cutoffMs, DbError* error) {
    QSqlQuery q(db());
    q.prepare(QStringLiteral("DELETE FROM cycles WHERE time < :cutoff AND time NOT IN "
                             "(SELECT MIN(time) FROM cycles WHERE time < :cutoff GROUP BY time / 300000)"));
    q.bindValue(QStringLiteral(":cutoff"), cutoffMs);
    if (!q.exec()) {
        Fail(error, q.lastError());
        return false;
    }
    return true;
}

bool HistoryDb::markImported(DbError* error) {
    return exec(QStringLiteral("PRAGMA user_version=1"), error);
}

bool HistoryDb::cycles(qint64 fromMs, qint64 toMs, qint64 bucketMs, std::vector<CycleRow>* rows,
                       DbError* error) {
    QSqlQuery q(db());
    q.setForwardOnly(true);
    if (bucketMs > 0) {
        QStringList averages;
        for (const char* c : kCycleColumns) {
            averages << QStringLiteral("AVG(%1)").arg(QLatin1String(c));
        }
        q.prepare(QStringLiteral("SELECT MIN(time),%1 FROM cycles WHERE time >= ? AND time < ? "
                                 "GROUP BY time / %2 ORDER BY 1")
                      .arg(averages.join(QLatin1Char(',')))
                      .arg(bucketMs));
    } else {
        q.prepare(QStringLiteral("SELECT time,%1 FROM cycles WHERE time >= ? AND time < ? ORDER BY time")
                      .arg(CycleColumnList()));
    }
    q.bindValue(0, fromMs);
    q.bindValue(1, toMs);
    if (!q.exec()) {
        Fail(error, q.lastError());
        return false;
    }
    while (q.next()) {
        CycleRow row;
        row.timeMs = q.value(0).toLongLong();
        for (int i = 0; i < CycleRow::kFigures; ++i) {
            row.figures[static_cast<size_t>(i)] = FromVariant(q.value(i + 1));
        }
        rows->push_back(row);
    }
    return true;
}

qint64 HistoryDb::countCycles(qint64 fromMs, qint64 toMs) {
    QSqlQuery q(db());
    q.prepare(QStringLiteral("SELECT COUNT(*) FROM cycles WHERE time >= ? AND time < ?"));
    q.bindValue(0, fromMs);
    q.bindValue(1, toMs);
    return q.exec() && q.next() ? q.value(0).toLongLong() : 0;
}

QDate HistoryDb::firstDate() {
    QSqlQuery q(db());
    QDate first;
    if (q.exec(QStringLiteral("SELECT MIN(time) FROM cycles")) && q.next() && !q.value(0).isNull()) {
        first = QDateTime::fromMSecsSinceEpoch(q.value(0).toLongLong()).date();
    }
    if (q.exec(QStringLiteral("SELECT MIN(date) FROM daily")) && q.next() && !q.value(0).isNull()) {
        const QDate day = QDate::fromString(q.value(0).toString(), Qt::ISODate);
        if (!first.isValid() || day < first) {
            first = day;
        }
    }
    return first;
}

bool HistoryDb::days(const QDate& first, const QDate& last, std::vector<DayRow>* rows, DbError* error) {
    QSqlQuery q(db());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT date,%1 FROM daily WHERE date >= ? AND date <= ? ORDER BY date")
                  .arg(DayColumnList()));
    q.bindValue(0, first.toString(Qt::ISODate));
    q.bindValue(1, last.toString(Qt::ISODate));
    if (!q.exec()) {
        Fail(error, q.lastError());
        return false;
    }
    while (q.next()) {
        DayRow row;
        row.date = QDate::fromString(q.value(0).toString(), Qt::ISODate);
        for (int i = 0; i < DayRow::kFigures; ++i) {
            row.figures[static_cast<size_t>(i)] = FromVariant(q.value(i + 1));
        }
        rows->push_back(row);
    }
    return true;
}

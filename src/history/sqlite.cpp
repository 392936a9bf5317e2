#include "history/sqlite.h"

#include <cmath>
#include <sqlite3.h>

namespace {
DbError ErrorOf(sqlite3* db, int rc) {
    // Extended result codes carry the primary one in their low byte.
    return {rc & 0xff,
            db != nullptr ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc))};
}
} // namespace

Sqlite::~Sqlite() {
    close();
}

bool Sqlite::open(const QString& path, bool readOnly, int busyMs, DbError* error) {
    close();
    const int flags = readOnly ? SQLITE_OPEN_READONLY : (SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    // No mutex of SQLite's own: each connection stays on one thread.
    const int rc = sqlite3_open_v2(path.toUtf8().constData(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        *error = ErrorOf(db_, rc);
        close();
        return false;
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, busyMs);
    return true;
}

void Sqlite::close() {
    if (db_ != nullptr) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }
}

bool Sqlite::exec(const char* sql, DbError* error) {
    if (db_ == nullptr) {
        *error = {1, QStringLiteral("not open")};
        return false;
    }
    const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        *error = ErrorOf(db_, rc);
        return false;
    }
    return true;
}

qint64 Sqlite::value(const char* sql, qint64 fallback) {
    Statement query;
    DbError error;
    if (!query.prepare(*this, sql, &error) || !query.next(&error) || query.isNull(0)) {
        return fallback;
    }
    return query.integer(0);
}

int Sqlite::changes() const {
    return db_ != nullptr ? sqlite3_changes(db_) : 0;
}

void Sqlite::interrupt() {
    if (db_ != nullptr) {
        sqlite3_interrupt(db_);
    }
}

DbError Sqlite::lastError() const {
    return db_ != nullptr ? ErrorOf(db_, sqlite3_extended_errcode(db_))
                          : DbError{1, QStringLiteral("not open")};
}

Statement::~Statement() {
    finalize();
}

bool Statement::prepare(Sqlite& db, const QByteArray& sql, DbError* error) {
    finalize();
    db_ = db.db_;
    if (db_ == nullptr) {
        *error = {1, QStringLiteral("not open")};
        return false;
    }
    const int rc =
        sqlite3_prepare_v2(db_, sql.constData(), static_cast<int>(sql.size()), &statement_, nullptr);
    if (rc != SQLITE_OK) {
        *error = ErrorOf(db_, rc);
        finalize();
        return false;
    }
    return true;
}

void Statement::finalize() {
    sqlite3_finalize(statement_); // a no-op for none
    statement_ = nullptr;
}

void Statement::bind(int index, qint64 value) {
    sqlite3_bind_int64(statement_, index, value);
}

void Statement::bind(int index, double value) {
    if (std::isnan(value)) {
        sqlite3_bind_null(statement_, index);
    } else {
        sqlite3_bind_double(statement_, index, value);
    }
}

void Statement::bind(int index, const QByteArray& blob) {
    sqlite3_bind_blob(statement_, index, blob.constData(), static_cast<int>(blob.size()), SQLITE_TRANSIENT);
}

void Statement::bind(int index, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(statement_, index, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
}

void Statement::bindNull(int index) {
    sqlite3_bind_null(statement_, index);
}

bool Statement::run(DbError* error) {
    const int rc = sqlite3_step(statement_);
    sqlite3_reset(statement_);
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) {
        *error = ErrorOf(db_, rc);
        return false;
    }
    return true;
}

bool Statement::next(DbError* error) {
    const int rc = sqlite3_step(statement_);
    if (rc == SQLITE_ROW) {
        return true;
    }
    if (rc != SQLITE_DONE) {
        *error = ErrorOf(db_, rc);
    }
    sqlite3_reset(statement_);
    return false;
}

void Statement::reset() {
    sqlite3_reset(statement_);
}

bool Statement::isNull(int column) const {
    return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

qint64 Statement::integer(int column) const {
    return sqlite3_column_int64(statement_, column);
}

double Statement::real(int column) const {
    return isNull(column) ? std::nan("") : sqlite3_column_double(statement_, column);
}

QString Statement::text(int column) const {
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    return QString::fromUtf8(bytes, sqlite3_column_bytes(statement_, column));
}

const char* Statement::blob(int column, int* size) const {
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement_, column));
    *size = sqlite3_column_bytes(statement_, column);
    return bytes;
}

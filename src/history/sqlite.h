#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

struct sqlite3;
struct sqlite3_stmt;

// Why a step on the store failed: SQLite's primary result code and its text.
struct DbError {
    int code = 0;
    QString text;
    bool corrupt() const { return code == 11 || code == 26; } // SQLITE_CORRUPT, SQLITE_NOTADB
    bool full() const { return code == 13; }                  // SQLITE_FULL
};

class Statement;

// One SQLite connection through the C API: open, run, prepare, and the error of the last step.
class Sqlite {
public:
    Sqlite() = default;
    ~Sqlite();
    Sqlite(const Sqlite&) = delete;
    Sqlite& operator=(const Sqlite&) = delete;

    bool open(const QString& path, bool readOnly, int busyMs, DbError* error);
    void close();
    bool isOpen() const { return db_ != nullptr; }
    // Runs one or more statements that return no rows.
    bool exec(const char* sql, DbError* error);
    // The first column of the first row of a query, or fallback.
    qint64 value(const char* sql, qint64 fallback);
    int changes() const;
    // Stops a statement running on this connection; safe from another thread while it is open.
    void interrupt();
    DbError lastError() const;

private:
    friend class Statement;
    sqlite3* db_ = nullptr;
};

// A prepared statement, reset for its next use after each run.
class Statement {
public:
    Statement() = default;
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool prepare(Sqlite& db, const QByteArray& sql, DbError* error);
    void finalize();
    bool isPrepared() const { return statement_ != nullptr; }

    void bind(int index, qint64 value);
    void bind(int index, double value); // NaN binds NULL
    void bind(int index, const QByteArray& blob);
    void bind(int index, const QString& text);
    void bindNull(int index);

    // Runs a statement that returns no rows.
    bool run(DbError* error);
    // The next row: true with a row, false at the end or on a failure (error->code then set).
    bool next(DbError* error);
    void reset();

    bool isNull(int column) const;
    qint64 integer(int column) const;
    double real(int column) const; // NULL reads as NaN
    QString text(int column) const;
    // The blob's bytes, valid until the next step.
    const char* blob(int column, int* size) const;

private:
    sqlite3* db_ = nullptr;
    sqlite3_stmt* statement_ = nullptr;
};

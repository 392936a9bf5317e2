#include "history/history_writer.h"

#include "history/classic_import.h"
#include "history/history_store.h"
#include "support/clock.h"

#include <QDateTime>
#include <QFile>

namespace {
// Rows kept for a retry while the file cannot be written; beyond that the oldest go.
constexpr size_t kMaxPending = 200000;
constexpr int kThinEveryMs = 24 * 3600 * 1000;

// The classic error number for a failure of the store.
int ClassicNumber(const DbError& error) {
    switch (error.code) {
    case 13: // SQLITE_FULL
        return 61;
    case 5:  // SQLITE_BUSY
    case 6:  // SQLITE_LOCKED
    case 8:  // SQLITE_READONLY
    case 23: // SQLITE_AUTH
        return 70;
    default:
        return 75;
    }
}
} // namespace

HistoryWriter::HistoryWriter(HistoryStore& store, qint64 keepMs) : store_(store), keepMs_(keepMs) {
    connect(&flushTimer_, &QTimer::timeout, this, &HistoryWriter::due);
    connect(&thinTimer_, &QTimer::timeout, this, &HistoryWriter::thinOld);
}

void HistoryWriter::start(int flushMs, int longestWaitMs) {
    flushMs_ = flushMs;
    longestWaitMs_ = longestWaitMs;
    flushTimer_.setSingleShot(true);
    thinTimer_.start(kThinEveryMs);
    for (int attempt = 0; attempt < 2; ++attempt) {
        DbError error;
        if (ensureOpen(&error)) {
            return;
        }
        failed(error);
        if (!error.corrupt()) {
            return;
        }
    }
}

void HistoryWriter::arm(bool slow) {
    if (!flushTimer_.isActive()) {
        waiting_.start();
        flushTimer_.start(slow ? longestWaitMs_ : flushMs_);
    }
}

void HistoryWriter::due() {
    // Rows coming slowly are gathered (all of them are written at the end of the program); fast
    // polling commits every flush interval.
    const qint64 waited = waiting_.isValid() ? waiting_.elapsed() : longestWaitMs_;
    const bool batch = store_.batchWaiting() || !cycles_.empty();
    if (!batch && waited < longestWaitMs_) {
        flushTimer_.start(static_cast<int>(longestWaitMs_ - waited));
    } else if (waited < flushMs_) {
        flushTimer_.start(static_cast<int>(flushMs_ - waited));
    } else {
        flush();
    }
}

void HistoryWriter::stop() {
    flush();
    flushTimer_.stop();
    thinTimer_.stop();
    db_.close();
}

bool HistoryWriter::ensureOpen(DbError* error) {
    if (db_.isOpen()) {
        return true;
    }
    bool created = false;
    if (!db_.openForWriting(store_.path(), &created, error)) {
        return false;
    }
    if (created && !importClassicFiles(error)) {
        db_.rollback();
        db_.close();
        return false;
    }
    DbError ignored; // thinning is tried again tomorrow
    db_.thin(store_.clock_.now().toMSecsSinceEpoch() - keepMs_, &ignored);
    return true;
}

bool HistoryWriter::importClassicFiles(DbError* error) {
    const std::vector<DayRow> days = ReadDailySummary(store_.options_.summaryLog);
    const std::vector<CycleRow> cycles = ReadSocLog(store_.options_.socLog);
    return db_.begin(error) && db_.insertDays(days, error) && db_.insertCycles(cycles, error) &&
           db_.markImported(error) && db_.commit(error);
}

void HistoryWriter::thinOld() {
    if (!db_.isOpen()) {
        return;
    }
    DbError error;
    if (!db_.thin(store_.clock_.now().toMSecsSinceEpoch() - keepMs_, &error)) {
        failed(error);
    }
}

void HistoryWriter::flush() {
    store_.take(&cycles_, &days_);
    if (cycles_.size() > kMaxPending) {
        cycles_.erase(cycles_.begin(), cycles_.end() - static_cast<std::ptrdiff_t>(kMaxPending));
    }
    if (cycles_.empty() && days_.empty()) {
        return;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        DbError error;
        if (ensureOpen(&error) && db_.begin(&error) && db_.insertCycles(cycles_, &error) &&
            db_.insertDays(days_, &error) && db_.commit(&error)) {
            cycles_.clear();
            days_.clear();
            flushTimer_.stop();
            waiting_.invalidate();
            if (failing_) {
                failing_ = false;
                QMetaObject::invokeMethod(&store_, [s = &store_] { s->reportSuccess(); });
            }
            Q_EMIT store_.written();
            return;
        }
        if (db_.isOpen()) {
            db_.rollback();
        }
        failed(error);
        if (!error.corrupt()) {
            break;
        }
        // Moved aside: the rows go into the new file at once.
    }
    arm(false); // the rows kept are tried again after the interval, whether or not more come
}

void HistoryWriter::failed(const DbError& error) {
    db_.close();
    QString description = error.text;
    if (error.corrupt()) {
        const QString path = store_.path();
        const QString aside = path + QStringLiteral(".corrupt-") +
                              QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
        QFile::remove(path + QStringLiteral("-wal"));
        QFile::remove(path + QStringLiteral("-shm"));
        description =
            QFile::rename(path, aside)
                ? QStringLiteral("the file is damaged; moved aside as %1, a new one started").arg(aside)
                : QStringLiteral("the file is damaged and could not be moved aside");
    }
    failing_ = true;
    QMetaObject::invokeMethod(
        &store_, [s = &store_, n = ClassicNumber(error), description] { s->reportFailure(n, description); });
}

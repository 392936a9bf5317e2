#include "history/history_writer.h"

#include "history/classic_import.h"
#include "history/history_convert.h"
#include "history/history_queue.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <sys/statvfs.h>

namespace {
// Rows kept for a retry while the file cannot be written; beyond that the oldest go.
constexpr size_t kMaxPending = 200000;
constexpr size_t kImportBatch = 20000;
constexpr qint64 kDayMs = qint64(24) * 3600 * 1000;
constexpr int kTidyEveryMs = 3600 * 1000;
constexpr int kTidySteps = 24;
// A batch worth a commit of its own once the flush interval has passed.
constexpr size_t kBatchRows = 30;

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
DbError NoRoom(qint64 reserve) {
    return {13, QStringLiteral("less than %1 MiB free in its folder; the history waits for room, so that "
                               "the classic files always find it")
                    .arg(reserve >> 20)};
}
} // namespace

HistoryWriter::HistoryWriter(HistoryQueue& queue, HistoryOptions options)
    : queue_(queue), options_(std::move(options)), dates_(LocaleDates()) {
    connect(&flushTimer_, &QTimer::timeout, this, &HistoryWriter::due);
    connect(&tidyTimer_, &QTimer::timeout, this, &HistoryWriter::tidy);
}

void HistoryWriter::start() {
    flushTimer_.setSingleShot(true);
    tidyTimer_.setSingleShot(true);
    for (int attempt = 0; attempt < 2; ++attempt) {
        DbError error;
        if (ensureOpen(&error)) {
            return;
        }
        failedWith(error);
        if (!error.corrupt()) {
            return;
        }
    }
}

void HistoryWriter::arm(bool slow) {
    if (!flushTimer_.isActive()) {
        waiting_.start();
        flushTimer_.start(slow ? options_.longestWaitMs : options_.flushMs);
    }
}

void HistoryWriter::due() {
    // Rows coming slowly are gathered up to the longest wait; fast polling commits every flush
    // interval.
    const qint64 waited = waiting_.isValid() ? waiting_.elapsed() : options_.longestWaitMs;
    const bool batch = queue_.waiting(kBatchRows) || cycles_.size() >= kBatchRows || !days_.empty();
    if (!batch && waited < options_.longestWaitMs) {
        flushTimer_.start(static_cast<int>(options_.longestWaitMs - waited));
    } else if (waited < options_.flushMs) {
        flushTimer_.start(static_cast<int>(options_.flushMs - waited));
    } else {
        flush();
    }
}

int HistoryWriter::stop() {
    flush();
    flushTimer_.stop();
    tidyTimer_.stop();
    file_.close();
    return static_cast<int>(cycles_.size() + days_.size());
}

bool HistoryWriter::roomLeft() const {
    if (options_.reserveBytes <= 0) {
        return true;
    }
    struct statvfs folder {};
    const QByteArray where = QFile::encodeName(QFileInfo(options_.path).absolutePath());
    return statvfs(where.constData(), &folder) != 0 ||
           qint64(folder.f_bavail) * qint64(folder.f_frsize) >= options_.reserveBytes;
}

bool HistoryWriter::ensureOpen(DbError* error) {
    if (file_.isOpen()) {
        return true;
    }
    if (!roomLeft()) {
        *error = NoRoom(options_.reserveBytes);
        return false;
    }
    if (IsEarlierStore(options_.path) && !ConvertEarlierStore(
                                             options_.path, [this] { return roomLeft(); }, error)) {
        return false;
    }
    bool fresh = false;
    if (!file_.open(options_.path, &fresh, error)) {
        return false;
    }
    if (fresh && !importClassicFiles(error)) {
        file_.rollback();
        file_.close();
        return false;
    }
    tidyTimer_.start(0);
    return true;
}

bool HistoryWriter::importClassicFiles(DbError* error) {
    // A batch at a time, each its own transaction: an import cut short starts again from nothing.
    if (!file_.begin(error) || !file_.clear(error) || !file_.commit(error)) {
        return false;
    }
    ImportTally days{QFileInfo(options_.summaryLog).fileName()};
    ImportTally cycles{QFileInfo(options_.socLog).fileName()};
    const bool read =
        ReadDailySummary(
            options_.summaryLog, dates_, kImportBatch,
            [&](std::vector<DayRow>& rows) {
                return file_.begin(error) && file_.insertDays(rows, error) && file_.commit(error);
            },
            &days) &&
        ReadSocLog(
            options_.socLog, dates_, kImportBatch,
            [&](std::vector<CycleRow>& rows) {
                if (!roomLeft()) {
                    *error = {13, QStringLiteral("too little room to import the classic files")};
                    return false;
                }
                const qint64 before = options_.importBeforeMs;
                rows.erase(std::remove_if(rows.begin(), rows.end(),
                                          [before](const CycleRow& r) { return r.timeMs >= before; }),
                           rows.end());
                const bool ok = file_.begin(error) && file_.insertCycles(rows, error) && file_.commit(error);
                file_.checkpoint();
                return ok;
            },
            &cycles);
    if (!read || !file_.markImported(error)) {
        return false;
    }
    QStringList said;
    for (const QString& text : {TallyText(days, "days"), TallyText(cycles, "lines")}) {
        if (!text.isEmpty()) {
            said << text;
        }
    }
    if (!said.isEmpty()) {
        Q_EMIT imported(QStringLiteral("History: imported ") + said.join(QStringLiteral(" and ")));
    }
    return true;
}

void HistoryWriter::tidy() {
    if (!file_.isOpen() || newestMs_ == 0) {
        return;
    }
    for (int step = 0; step < kTidySteps; ++step) {
        const bool over = options_.maxBytes > 0 && file_.bytesOnDisk() > options_.maxBytes;
        // Over the cap, everything before the last day is thinned, then its oldest hours go.
        const qint64 cutoff = newestMs_ - (over ? kDayMs : qint64(options_.keepFullDays) * kDayMs);
        DbError error;
        bool done = file_.thinStep(cutoff, &error);
        if (!done && error.code == 0 && over) {
            done = file_.dropOldestHour(newestMs_ - kDayMs, &error);
        }
        if (error.code != 0) {
            failedWith(error);
            return;
        }
        if (!done) {
            tidyTimer_.start(kTidyEveryMs);
            return;
        }
        file_.checkpoint();
        file_.shrink();
        file_.checkpoint();
    }
    tidyTimer_.start(0); // more to do, after the rows that came meanwhile
}

void HistoryWriter::flush() {
    queue_.take(&cycles_, &days_);
    if (cycles_.size() > kMaxPending) {
        cycles_.erase(cycles_.begin(), cycles_.end() - static_cast<std::ptrdiff_t>(kMaxPending));
    }
    if (cycles_.empty() && days_.empty()) {
        return;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        DbError error;
        if (!roomLeft()) {
            error = NoRoom(options_.reserveBytes);
        } else if (ensureOpen(&error) && file_.begin(&error) && file_.insertCycles(cycles_, &error) &&
                   file_.insertDays(days_, &error) && file_.commit(&error)) {
            for (const CycleRow& row : cycles_) {
                newestMs_ = std::max(newestMs_, row.timeMs);
            }
            cycles_.clear();
            days_.clear();
            flushTimer_.stop();
            waiting_.invalidate();
            if (failing_) {
                // A full disk may have left the log as long as the room allowed: cut back now.
                file_.checkpoint();
                failing_ = false;
                Q_EMIT recovered();
            }
            if (!tidyTimer_.isActive()) {
                tidyTimer_.start(0); // the first write gives the thinning its time
            }
            Q_EMIT written();
            return;
        }
        file_.rollback();
        failedWith(error);
        if (!error.corrupt()) {
            break;
        }
        // Moved aside: the rows go into the new file at once.
    }
    arm(false); // the rows kept are tried again after the interval, whether or not more come
}

void HistoryWriter::failedWith(const DbError& error) {
    QString description = error.text;
    if (error.full()) {
        // The room goes back to the classic files: the log is emptied and cut back.
        file_.checkpoint();
    }
    file_.close();
    if (error.corrupt()) {
        const QString path = options_.path;
        const QString aside = path + QStringLiteral(".corrupt-") +
                              QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
        QFile::remove(path + QStringLiteral("-wal"));
        QFile::remove(path + QStringLiteral("-shm"));
        description =
            QFile::rename(path, aside)
                ? QStringLiteral("the file is damaged; moved aside as %1, a new one started").arg(aside)
                : QStringLiteral("the file is damaged and could not be moved aside");
    }
    failing_ = true;
    Q_EMIT failed(ClassicNumber(error), description);
}

#include "history/history_store.h"

#include "history/history_writer.h"
#include "support/clock.h"

#include <algorithm>

namespace {
// Beyond this many rows waiting the writer is woken before its timer.
constexpr size_t kEarlyFlushRows = 5000;
// A batch worth a commit of its own once the flush interval has passed.
constexpr size_t kBatchRows = 30;
} // namespace

HistoryStore::HistoryStore(const Clock& clock, ErrorLog& log, HistoryOptions options)
    : clock_(clock), options_(std::move(options)), failures_(log) {
    failures_.notify = [this](const QString& text) {
        if (notify) {
            notify(text);
        }
    };
    thread_.setObjectName(QStringLiteral("history"));
}

HistoryStore::~HistoryStore() {
    if (writer_ == nullptr) {
        return;
    }
    int lost = 0;
    QMetaObject::invokeMethod(
        writer_, [this, &lost] { lost = writer_->stop(); }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
    delete writer_;
    if (lost > 0 && notify) {
        // The program ends with them: said, with their count, rather than dropped unseen.
        notify(
            QStringLiteral("%1 rows of history could not be written before the end and are lost").arg(lost));
    }
}

void HistoryStore::start() {
    if (writer_ != nullptr) {
        return;
    }
    writer_ = new HistoryWriter(queue_, options_);
    connect(writer_, &HistoryWriter::written, this, &HistoryStore::written);
    connect(writer_, &HistoryWriter::failed, this, [this](int number, const QString& description) {
        failures_.failed(options_.path, {number, 10, QStringLiteral("HistoryStore"), description},
                         QStringLiteral("polling and the other files go on"));
    });
    connect(writer_, &HistoryWriter::imported, this, [this](const QString& text) {
        if (notify) {
            notify(text);
        }
    });
    connect(writer_, &HistoryWriter::recovered, this, [this] { failures_.succeeded(options_.path); });
    writer_->moveToThread(&thread_);
    thread_.start(QThread::LowPriority);
    QMetaObject::invokeMethod(writer_, &HistoryWriter::start);
}

void HistoryStore::addCycle(const CycleRow& row) {
    lastCycleDate_ = QDateTime::fromMSecsSinceEpoch(row.timeMs).date();
    const size_t waiting = queue_.addCycle(row);
    // Cycles further apart than a batch fills in the flush interval wait the longest at once.
    const bool slow =
        !sinceCycle_.isValid() || sinceCycle_.restart() > options_.flushMs / static_cast<qint64>(kBatchRows);
    // The first row since the last flush wakes the writer's timer, a full batch asks whether it
    // is due; the others need no word.
    if (writer_ == nullptr) {
        return;
    }
    if (waiting == 1) {
        QMetaObject::invokeMethod(writer_, [w = writer_, slow] { w->arm(slow); });
    }
    if (waiting == kBatchRows) {
        QMetaObject::invokeMethod(writer_, &HistoryWriter::due);
    }
    if (waiting == kEarlyFlushRows) {
        QMetaObject::invokeMethod(writer_, &HistoryWriter::flush);
    }
}

void HistoryStore::addDay(DayRow row) {
    // The day that ended: yesterday, or the last day polled when the program saw no cycle since
    // (a catch-up after a suspend); a cycle just past midnight does not count.
    const QDate yesterday = clock_.now().date().addDays(-1);
    row.date = lastCycleDate_.isValid() ? std::min(lastCycleDate_, yesterday) : yesterday;
    queue_.addDay(row);
    if (writer_ != nullptr) {
        QMetaObject::invokeMethod(writer_, [w = writer_] { w->arm(false); });
    }
}

void HistoryStore::flush() {
    if (writer_ != nullptr) {
        QMetaObject::invokeMethod(writer_, &HistoryWriter::flush, Qt::BlockingQueuedConnection);
    }
}

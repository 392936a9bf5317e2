#include "history/history_store.h"

#include "history/history_writer.h"
#include "model/form.h"
#include "support/clock.h"

#include <QMutexLocker>

#include <algorithm>

const char* const kHistoryFile = "history.sqlite";

namespace {
// Beyond this many rows waiting the writer is woken before its timer.
constexpr size_t kEarlyFlushRows = 5000;
// A batch worth a commit of its own once the flush interval has passed.
constexpr size_t kBatchRows = 30;
} // namespace

HistoryStore::HistoryStore(const Clock& clock, ErrorLog& log, Options options)
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
    QMetaObject::invokeMethod(writer_, &HistoryWriter::stop, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
    delete writer_;
}

void HistoryStore::start() {
    if (writer_ != nullptr) {
        return;
    }
    writer_ = new HistoryWriter(*this, qint64(options_.keepFullDays) * 24 * 3600 * 1000);
    writer_->moveToThread(&thread_);
    thread_.start(QThread::LowPriority);
    QMetaObject::invokeMethod(writer_, [w = writer_, o = options_] { w->start(o.flushMs, o.longestWaitMs); });
}

void HistoryStore::addCycle(const Form& form) {
    const QDateTime now = clock_.now();
    lastCycleDate_ = now.date();
    CycleRow row = CycleFromForm(form, now.toMSecsSinceEpoch());
    size_t waiting = 0;
    {
        QMutexLocker lock(&mutex_);
        cycles_.push_back(row);
        waiting = cycles_.size();
    }
    // Cycles further apart than a batch fills in the flush interval wait the longest at once.
    const bool slow =
        !sinceCycle_.isValid() || sinceCycle_.restart() > options_.flushMs / static_cast<qint64>(kBatchRows);
    // The first row since the last flush wakes the writer's timer, a full batch asks whether it
    // is due; the others need no word.
    if (waiting == 1 && writer_ != nullptr) {
        QMetaObject::invokeMethod(writer_, [w = writer_, slow] { w->arm(slow); });
    }
    if (waiting == kBatchRows && writer_ != nullptr) {
        QMetaObject::invokeMethod(writer_, &HistoryWriter::due);
    }
    if (waiting == kEarlyFlushRows && writer_ != nullptr) {
        QMetaObject::invokeMethod(writer_, &HistoryWriter::flush);
    }
}

void HistoryStore::addDay(const Form& form) {
    // The day that ended: yesterday, or the last day polled when the program saw no cycle since
    // (a catch-up after a suspend); a cycle just past midnight does not count.
    const QDate yesterday = clock_.now().date().addDays(-1);
    const QDate day = lastCycleDate_.isValid() ? std::min(lastCycleDate_, yesterday) : yesterday;
    {
        QMutexLocker lock(&mutex_);
        days_.push_back(DayFromForm(form, day));
    }
    if (writer_ != nullptr) {
        QMetaObject::invokeMethod(writer_, [w = writer_] { w->arm(false); });
    }
}

void HistoryStore::flush() {
    if (writer_ != nullptr) {
        QMetaObject::invokeMethod(writer_, &HistoryWriter::flush, Qt::BlockingQueuedConnection);
    }
}

void HistoryStore::take(std::vector<CycleRow>* cycles, std::vector<DayRow>* days) {
    QMutexLocker lock(&mutex_);
    cycles->insert(cycles->end(), cycles_.begin(), cycles_.end());
    days->insert(days->end(), days_.begin(), days_.end());
    cycles_.clear();
    days_.clear();
}

std::vector<CycleRow> HistoryStore::waitingCycles() const {
    QMutexLocker lock(&mutex_);
    return cycles_;
}

bool HistoryStore::batchWaiting() {
    QMutexLocker lock(&mutex_);
    return cycles_.size() >= kBatchRows || !days_.empty();
}

void HistoryStore::reportFailure(int number, const QString& description) {
    failures_.failed(options_.path, {number, 10, QStringLiteral("HistoryStore"), description},
                     QStringLiteral("polling and the other files go on"));
}

void HistoryStore::reportSuccess() {
    failures_.succeeded(options_.path);
}

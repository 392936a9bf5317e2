#pragma once

#include "history/history_options.h"
#include "history/history_queue.h"
#include "support/file_failures.h"

#include <QDate>
#include <QElapsedTimer>
#include <QObject>
#include <QThread>

#include <functional>
#include <vector>

class Clock;
class ErrorLog;
class HistoryWriter;

// The history store: every completed poll cycle and every closed day in history.sqlite. The poll's
// thread only hands the rows over; a thread of the store's own writes them, gathered into one
// transaction every flushMs (at most a minute apart when cycles come slowly), so neither the disk
// nor a locked or damaged file can delay a poll.
// A failure is one error-log entry and one notify line per run of failures.
class HistoryStore : public QObject {
    Q_OBJECT
public:
    HistoryStore(const Clock& clock, ErrorLog& log, HistoryOptions options);
    // Writes what is pending and stops the writer.
    ~HistoryStore() override;

    // Opens the file (converting or importing first) and thins old cycles.
    void start();
    // A completed poll cycle, with its time.
    void addCycle(const CycleRow& row);
    // The midnight save: the figures of the day that ended (its date is set here).
    void addDay(DayRow row);
    // Writes what is pending now and waits for it; for tests and the end of the program.
    void flush();

    const QString& path() const { return options_.path; }
    // The cycles handed over and not yet written, for a window opened meanwhile.
    std::vector<CycleRow> waitingCycles() const { return queue_.cycles(); }
    // The day of the newest cycle handed over, for the window.
    QDate lastCycleDate() const { return lastCycleDate_; }

    std::function<void(const QString&)> notify;

Q_SIGNALS:
    // A batch reached the file.
    void written();

private:
    const Clock& clock_;
    HistoryOptions options_;
    FileFailures failures_;
    HistoryQueue queue_;
    QElapsedTimer sinceCycle_;
    QDate lastCycleDate_;
    QThread thread_;
    HistoryWriter* writer_ = nullptr;
};

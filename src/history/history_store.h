#pragma once

#include "history/history_rows.h"
#include "support/file_failures.h"

#include <QDate>
#include <QElapsedTimer>
#include <QMutex>
#include <QObject>
#include <QThread>

#include <functional>
#include <vector>

class Clock;
class ErrorLog;
class HistoryWriter;

extern const char* const kHistoryFile;

// The history store: every completed poll cycle and every closed day in history.sqlite. The poll's
// thread only hands the figures over; a thread of the store's own writes them, gathered into one
// transaction every flushMs (at most three minutes apart when cycles come slowly), so neither the disk
// nor a locked or damaged file can delay a poll.
// A failure is one error-log entry and one notify line per run of failures.
class HistoryStore : public QObject {
    Q_OBJECT
public:
    struct Options {
        QString path = QString::fromLatin1(kHistoryFile);
        // Imported when the store is new.
        QString summaryLog;
        QString socLog;
        int flushMs = 2000;
        // Fewer rows than a batch wait at most this long: a commit costs as much for one row as
        // for a hundred, and at a 10 s poll rate one a minute was a tenth of the idle CPU. A
        // normal end writes them all; only a crash or a power cut can lose these minutes.
        int longestWaitMs = 180000;
        int keepFullDays = 90;
    };

    HistoryStore(const Clock& clock, ErrorLog& log, Options options);
    // Writes what is pending and stops the writer.
    ~HistoryStore() override;

    // Opens the file (importing the classic files when it is new) and thins old cycles.
    void start();
    // A completed poll cycle, stamped with the clock's now.
    void addCycle(const Form& form);
    // The midnight save: the day that ended, with the form's figures.
    void addDay(const Form& form);
    // Writes what is pending now and waits for it; for tests and the end of the program.
    void flush();

    const QString& path() const { return options_.path; }
    // The cycles handed over and not yet written, for a window opened meanwhile.
    std::vector<CycleRow> waitingCycles() const;
    // The day of the newest cycle handed over, for the window.
    QDate lastCycleDate() const { return lastCycleDate_; }

    std::function<void(const QString&)> notify;

Q_SIGNALS:
    // A batch reached the file.
    void written();

private:
    friend class HistoryWriter;
    void take(std::vector<CycleRow>* cycles, std::vector<DayRow>* days);
    // Enough rows wait to be worth a commit, or a day does.
    bool batchWaiting();
    void reportFailure(int number, const QString& description);
    void reportSuccess();

    const Clock& clock_;
    Options options_;
    FileFailures failures_;
    mutable QMutex mutex_;
    QElapsedTimer sinceCycle_;
    std::vector<CycleRow> cycles_;
    std::vector<DayRow> days_;
    QDate lastCycleDate_;
    QThread thread_;
    HistoryWriter* writer_ = nullptr;
};

#pragma once

#include "history/classic_import.h"
#include "history/history_file.h"
#include "history/history_options.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class HistoryQueue;

// The store's side in its own thread: opens (converting an earlier layout, importing the classic
// files into a new store), writes the gathered rows, thins in bounded steps, and yields to the
// classic files when the folder runs short of room. Its times are those of its rows.
class HistoryWriter : public QObject {
    Q_OBJECT
public:
    HistoryWriter(HistoryQueue& queue, HistoryOptions options);

    void start();
    // Rows wait: they go in as one transaction once the flush interval has passed and a batch is
    // waiting, or once the first has waited the longest wait. An idle store sleeps.
    void arm(bool slow);
    // The timer, or the poll's thread seeing a batch fill: writes when the batch is due.
    void due();
    // Writes whatever waits, now.
    void flush();
    // Writes what waits and closes the file; the rows that could not be written.
    int stop();

Q_SIGNALS:
    // Once per run of failures; number is the classic error number.
    void failed(int number, const QString& description);
    void recovered();
    // A batch reached the file.
    void written();
    // The classic files went into a new store: what was read, and what could not be.
    void imported(const QString& text);

private:
    bool ensureOpen(DbError* error);
    bool importClassicFiles(DbError* error);
    bool roomLeft() const;
    // Thinning and the size cap, a few bounded steps at a time.
    void tidy();
    void failedWith(const DbError& error);

    HistoryQueue& queue_;
    HistoryOptions options_;
    ClassicDates dates_; // taken on the thread that makes the writer
    HistoryFile file_;
    // Children, so they move to the writer's thread with it.
    QTimer flushTimer_{this};
    QTimer tidyTimer_{this};
    QElapsedTimer waiting_; // since the first row of the batch
    bool failing_ = false;
    qint64 newestMs_ = 0; // the newest cycle written: the writer's "now"
    std::vector<CycleRow> cycles_;
    std::vector<DayRow> days_;
};

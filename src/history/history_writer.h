#pragma once

#include "history/history_db.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class HistoryStore;

// The store's side in its own thread: opens the file, imports, writes the gathered rows, thins.
class HistoryWriter : public QObject {
    Q_OBJECT
public:
    HistoryWriter(HistoryStore& store, qint64 keepMs);

    void start(int flushMs, int longestWaitMs);
    // Rows wait: they go in as one transaction once the flush interval has passed and a batch is
    // waiting, or once the first has waited the longest wait; rows known to come slowly are not looked at
    // before. An idle store sleeps.
    void arm(bool slow);
    // The timer, or the poll's thread seeing a batch fill: writes when the batch is due.
    void due();
    // Writes whatever waits, now.
    void flush();
    void stop();

private:
    bool ensureOpen(DbError* error);
    bool importClassicFiles(DbError* error);
    void thinOld();
    void failed(const DbError& error);

    HistoryStore& store_;
    qint64 keepMs_;
    HistoryDb db_;
    // Children, so they move to the writer's thread with it.
    QTimer flushTimer_{this};
    QTimer thinTimer_{this};
    int flushMs_ = 2000;
    int longestWaitMs_ = 180000;
    QElapsedTimer waiting_; // since the first row of the batch
    bool failing_ = false;
    bool imported_ = false;
    std::vector<CycleRow> cycles_;
    std::vector<DayRow> days_;
};

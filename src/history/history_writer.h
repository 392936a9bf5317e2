#pragma once

#include "history/history_db.h"

#include <QObject>
#include <QTimer>

class HistoryStore;

// The store's side in its own thread: opens the file, imports, writes the gathered rows, thins.
class HistoryWriter : public QObject {
    Q_OBJECT
public:
    HistoryWriter(HistoryStore& store, qint64 keepMs);

    void start(int flushMs);
    // Rows wait: the transaction goes in once the flush interval has passed. An idle store sleeps.
    void arm();
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
    bool failing_ = false;
    bool imported_ = false;
    std::vector<CycleRow> cycles_;
    std::vector<DayRow> days_;
};

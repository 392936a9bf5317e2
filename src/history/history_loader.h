#pragma once

#include "history/history_reader.h"

#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QThread>

#include <atomic>
#include <functional>

// What a chart asks for: the minutes of [fromMs, toMs) and the days first to last.
struct ChartRequest {
    qint64 fromMs = 0;
    qint64 toMs = 0;
    QDate firstDay;
    QDate lastDay;
};

struct ChartData {
    std::vector<MinuteRow> minutes;
    std::vector<DayRow> days;
    QString error; // empty when read
};

// Reads charts on a thread of its own with a connection of its own, so no read of the store ever
// holds up the poll. A newer request cancels the one before: its query is stopped and its
// answer never delivered.
class HistoryLoader {
public:
    explicit HistoryLoader(QString path);
    ~HistoryLoader();
    HistoryLoader(const HistoryLoader&) = delete;
    HistoryLoader& operator=(const HistoryLoader&) = delete;

    // done runs on receiver's thread, unless a newer request came first or receiver is gone.
    void load(const ChartRequest& request, QObject* receiver,
              const std::function<void(const ChartData&)>& done);

private:
    void run(int generation, const ChartRequest& request, const QPointer<QObject>& receiver,
             const std::function<void(const ChartData&)>& done);

    QString path_;
    QThread thread_;
    QObject worker_;     // lives on thread_: the requests run in its event loop
    QMutex readerMutex_; // guards the reader's opening and closing against an interrupt
    HistoryReader reader_;
    std::atomic<int> generation_{0};
};

#include "history/history_loader.h"

#include <QMutexLocker>

HistoryLoader::HistoryLoader(QString path) : path_(std::move(path)) {
    thread_.setObjectName(QStringLiteral("history reads"));
    worker_.moveToThread(&thread_);
    thread_.start();
}

HistoryLoader::~HistoryLoader() {
    ++generation_;
    {
        QMutexLocker lock(&readerMutex_);
        reader_.interrupt();
    }
    thread_.quit();
    thread_.wait();
    reader_.close();
}

void HistoryLoader::load(const ChartRequest& request, QObject* receiver,
                         const std::function<void(const ChartData&)>& done) {
    const int generation = ++generation_;
    {
        QMutexLocker lock(&readerMutex_);
        reader_.interrupt(); // a query of an older request stops here
    }
    QMetaObject::invokeMethod(&worker_, [this, generation, request, r = QPointer<QObject>(receiver), done] {
        run(generation, request, r, done);
    });
}

void HistoryLoader::run(int generation, const ChartRequest& request, const QPointer<QObject>& receiver,
                        const std::function<void(const ChartData&)>& done) {
    if (generation != generation_) {
        return; // a newer one is queued
    }
    ChartData data;
    DbError error;
    if (!reader_.isOpen()) {
        QMutexLocker lock(&readerMutex_);
        reader_.open(path_, &error);
    }
    const bool ok = reader_.isOpen() &&
                    reader_.minutes(request.fromMs, request.toMs, &data.minutes, &error) &&
                    reader_.days(request.firstDay, request.lastDay, &data.days, &error);
    if (generation != generation_) {
        return;
    }
    if (!ok) {
        data.error = error.text;
        QMutexLocker lock(&readerMutex_);
        reader_.close(); // opened again at the next request: the file may come later
    }
    QMetaObject::invokeMethod(receiver, [receiver, done, data = std::move(data)] {
        if (receiver != nullptr) {
            done(data);
        }
    });
}

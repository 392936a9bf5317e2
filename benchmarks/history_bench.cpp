// The history store at the sizes people keep: a store of 90 days at a 1 s poll and one day at
// 10 ms built in the program's own format, then each figure measured on it.
//   history_bench build DIR          the store, and bytes on disk per cycle
//   history_bench chart DIR          any day's chart, and a 10 ms timer while the window reads
//   history_bench thin DIR           WAL size while the oldest 60 days are thinned
//   history_bench import LOG         peak memory of the first-use import of a state-of-charge log
#include "history/history_file.h"
#include "history/history_loader.h"
#include "history/history_store.h"
#include "support/clock.h"
#include "support/error_log.h"
#include "support/prompter.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <limits>
#include <thread>

namespace {

constexpr qint64 kDayMs = 24 * 3600 * 1000;
const QDate kFirstDay(2026, 6, 1);

long PeakKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:")) {
            return line.mid(6).trimmed().split(' ').first().toLong();
        }
    }
    return 0;
}

// A plausible cycle: the state of charge drifting, the sun, a house load, counters rising.
CycleRow Cycle(qint64 timeMs, qint64 n) {
    CycleRow row;
    row.timeMs = timeMs;
    const double hour = (timeMs % kDayMs) / 3600000.0;
    const double sun = std::max(0.0, 1 - std::abs(hour - 13) / 6);
    row.set(0, 20 + (n / 600) % 70);
    row.set(1, std::round(4000 * sun + n % 37));
    row.set(2, 0);
    row.set(3, 0);
    row.set(4, std::round(300 + (n % 113) * 3 * (1 - sun)));
    row.set(5, (20 + (n / 600) % 70) * 102.4);
    row.set(6, 1500000 + n / 900);
    row.set(7, 700000 + n / 1100);
    row.set(8, 42000 + n / 9000);
    row.set(9, 65536 + n / 3000);
    return row;
}

int Build(const QString& dir) {
    QDir().mkpath(dir);
    const QString path = dir + QStringLiteral("/history.sqlite");
    QFile::remove(path);
    HistoryFile file;
    DbError error;
    bool fresh = false;
    if (!file.open(path, &fresh, &error) || !file.markImported(&error)) {
        std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(path), qPrintable(error.text));
        return 1;
    }
    QElapsedTimer timer;
    timer.start();
    qint64 n = 0;
    std::vector<CycleRow> rows;
    // 90 days at 1 s, then a day at 10 ms, committed an hour at a time as a store grows.
    auto fill = [&](QDate day, int days, qint64 stepMs) {
        const qint64 begin = QDateTime(day, QTime(0, 0)).toMSecsSinceEpoch();
        const qint64 end = begin + days * kDayMs;
        for (qint64 hour = begin; hour < end; hour += 3600000) {
            rows.clear();
            for (qint64 t = hour; t < hour + 3600000; t += stepMs) {
                rows.push_back(Cycle(t, n++));
            }
            if (!file.begin(&error) || !file.insertCycles(rows, &error) || !file.commit(&error)) {
                return false;
            }
        }
        return true;
    };
    if (!fill(kFirstDay, 90, 1000) || !fill(kFirstDay.addDays(90), 1, 10)) {
        std::fprintf(stderr, "cannot write: %s\n", qPrintable(error.text));
        return 1;
    }
    file.checkpoint();
    const qint64 bytes = file.bytesOnDisk();
    std::printf("store: %lld cycles (90 days at 1 s, a day at 10 ms) built in %.1f s; %.1f MB\n",
                static_cast<long long>(n), timer.elapsed() / 1000.0, bytes / 1e6);
    std::printf("figure bytes_per_row %.1f\n", static_cast<double>(bytes) / static_cast<double>(n));
    return 0;
}

int Chart(const QString& dir) {
    const QString path = dir + QStringLiteral("/history.sqlite");
    HistoryReader reader;
    DbError error;
    if (!reader.open(path, &error)) {
        std::fprintf(stderr, "cannot read %s: %s\n", qPrintable(path), qPrintable(error.text));
        return 1;
    }
    // The slowest of the days: the 10 ms one and the last day at 1 s, each with its 31 bars.
    double slowest = 0;
    for (const QDate day : {kFirstDay.addDays(90), kFirstDay.addDays(89), kFirstDay.addDays(45)}) {
        QElapsedTimer timer;
        timer.start();
        std::vector<MinuteRow> minutes;
        std::vector<DayRow> days;
        reader.minutes(DayStartMs(day), DayStartMs(day.addDays(1)), &minutes, &error);
        reader.days(day.addDays(-30), day, &days, &error);
        const double ms = timer.nsecsElapsed() / 1e6;
        slowest = std::max(slowest, ms);
        std::printf("chart of %s: %zu points in %.1f ms\n", qPrintable(day.toString(Qt::ISODate)),
                    minutes.size(), ms);
    }
    std::printf("figure chart_ms %.1f\n", slowest);

    // The poll's thread while the window reads: a 10 ms timer, and how late it ever came.
    HistoryLoader loader(path);
    QObject receiver;
    QElapsedTimer since;
    qint64 latest = 0;
    int loads = 0;
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (since.isValid()) {
            latest = std::max(latest, since.nsecsElapsed() / 1000000 - 10);
        }
        since.start();
    });
    poll.start(10);
    std::function<void()> next = [&] {
        const QDate day = loads % 2 == 0 ? kFirstDay.addDays(90) : kFirstDay.addDays(89 - loads);
        loader.load({DayStartMs(day), DayStartMs(day.addDays(1)), day.addDays(-30), day}, &receiver,
                    [&](const ChartData&) {
                        if (++loads < 40) {
                            next();
                        } else {
                            QCoreApplication::quit();
                        }
                    });
    };
    next();
    QCoreApplication::exec();
    std::printf("window read 40 days while a 10 ms timer ran: the timer at most %lld ms late\n",
                static_cast<long long>(latest));
    std::printf("figure poll_late_ms %lld\n", static_cast<long long>(latest));
    return 0;
}

int Thin(const QString& dir) {
    // 60 of the 91 days past the 30 kept in full; the largest WAL seen while they are thinned.
    const QString path = dir + QStringLiteral("/history.sqlite");
    SettableClock clock;
    RecordingPrompter prompter;
    ErrorLog log(clock, prompter);
    HistoryOptions options;
    options.path = path;
    options.keepFullDays = 30;
    options.reserveBytes = 0;
    std::atomic<bool> done{false};
    qint64 largest = 0;
    std::thread watch([&] {
        while (!done) {
            largest = std::max(largest, QFileInfo(path + QStringLiteral("-wal")).size());
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    const qint64 before = QFileInfo(path).size();
    QElapsedTimer timer;
    timer.start();
    {
        HistoryStore store(clock, log, options);
        store.start();
        store.addCycle(Cycle(DayStartMs(kFirstDay.addDays(91)), 0));
        store.flush();
        // Done when the store stops shrinking for a while.
        qint64 size = 0;
        for (int still = 0; still < 20; std::this_thread::sleep_for(std::chrono::milliseconds(250))) {
            const qint64 now = QFileInfo(path).size();
            still = now == size ? still + 1 : 0;
            size = now;
        }
    }
    done = true;
    watch.join();
    std::printf("thinning 60 days: %.1f s; file %.1f MB -> %.1f MB; largest WAL %.1f MB\n",
                (timer.elapsed() - 5000) / 1000.0, before / 1e6, QFileInfo(path).size() / 1e6, largest / 1e6);
    std::printf("figure wal_mb %.1f\n", largest / 1e6);
    return 0;
}

int Import(const QString& log) {
    SettableClock clock;
    RecordingPrompter prompter;
    ErrorLog errors(clock, prompter);
    HistoryOptions options;
    options.path = QDir::temp().filePath(QStringLiteral("history-import-bench.sqlite"));
    options.socLog = log;
    options.reserveBytes = 0;
    QFile::remove(options.path);
    QElapsedTimer timer;
    timer.start();
    {
        HistoryStore store(clock, errors, options);
        store.start();
        store.flush();
    }
    const double seconds = timer.elapsed() / 1000.0;
    HistoryReader reader;
    DbError error;
    qint64 rows = 0;
    reader.open(options.path, &error);
    reader.eachCycle(
        0, std::numeric_limits<qint64>::max(), [&rows](const CycleRow&) { ++rows; }, &error);
    std::printf("import of %s (%.0f MB): %lld rows in %.1f s, peak resident %.0f MB\n", qPrintable(log),
                QFileInfo(log).size() / 1e6, static_cast<long long>(rows), seconds, PeakKb() / 1024.0);
    std::printf("figure import_peak_mb %.0f\n", PeakKb() / 1024.0);
    for (const char* suffix : {"", "-wal", "-shm"}) {
        QFile::remove(options.path + QLatin1String(suffix));
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: history_bench build|chart|thin DIR, or import LOG\n");
        return 2;
    }
    const QString& mode = args[1];
    return mode == QLatin1String("build")    ? Build(args[2])
           : mode == QLatin1String("chart")  ? Chart(args[2])
           : mode == QLatin1String("thin")   ? Thin(args[2])
           : mode == QLatin1String("import") ? Import(args[2])
                                             : 2;
}

#include "support/clock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QtGlobal>

#include <ctime>
#include <sys/stat.h>

namespace {

const char* const kZoneFile = "/etc/localtime";
constexpr qint64 kZoneCheckMs = 60000;

// What tells a replaced or edited zone file: a new link target, a new file, a new write.
struct ZoneStamp {
    dev_t device = 0;
    ino_t inode = 0;
    time_t modified = 0;
    long modifiedNs = 0;
    off_t size = -1;
    bool operator==(const ZoneStamp& o) const {
        return device == o.device && inode == o.inode && modified == o.modified &&
               modifiedNs == o.modifiedNs && size == o.size;
    }
};

ZoneStamp StampOfZoneFile() {
    struct stat st {};
    if (::stat(kZoneFile, &st) != 0) {
        return {};
    }
    return {st.st_dev, st.st_ino, st.st_mtim.tv_sec, st.st_mtim.tv_nsec, st.st_size};
}

bool zonePinned = false;
ZoneStamp zoneStamp;
QElapsedTimer sinceZoneCheck;

void FollowZoneFile() {
    if (!zonePinned || sinceZoneCheck.elapsed() < kZoneCheckMs) {
        return;
    }
    sinceZoneCheck.restart();
    const ZoneStamp now = StampOfZoneFile();
    if (now == zoneStamp) {
        return;
    }
    zoneStamp = now;
    // tzset() skips a TZ value it has seen: read the file through the unset form, then pin again.
    qunsetenv("TZ");
    ::tzset();
    qputenv("TZ", QByteArray(":") + kZoneFile);
    ::tzset();
}

} // namespace

void PinLocalTimeZone() {
    if (zonePinned || qEnvironmentVariableIsSet("TZ")) {
        return; // a zone the user chose stays as it is
    }
    zoneStamp = StampOfZoneFile();
    qputenv("TZ", QByteArray(":") + kZoneFile);
    ::tzset();
    zonePinned = true;
    sinceZoneCheck.start();
}

QDateTime SystemClock::now() const {
    // The zone is followed on the main thread only: changing TZ while another thread converts a
    // local time is a data race. Other threads take their times from what the main thread hands
    // them.
    const QCoreApplication* app = QCoreApplication::instance();
    if (app != nullptr && QThread::currentThread() == app->thread()) {
        FollowZoneFile();
    }
    return QDateTime::currentDateTime();
}

qint64 SystemClock::monotonicMs() const {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<qint64>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

#include "support/clock.h"

#include <QElapsedTimer>
#include <QtGlobal>

#include <atomic>
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
std::atomic<int> zoneGeneration{0}; // a new zone file read: times worked out before are stale
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
    ++zoneGeneration;
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
    FollowZoneFile();
    // A cycle asks the time about ten times within the same millisecond, and each local-time
    // conversion costs more than the rest of a status line: one per millisecond and thread.
    thread_local qint64 lastMs = -1;
    thread_local int lastZone = -1;
    thread_local QDateTime last;
    const qint64 ms = QDateTime::currentMSecsSinceEpoch();
    const int zone = zoneGeneration.load(std::memory_order_relaxed);
    if (ms != lastMs || zone != lastZone) {
        last = QDateTime::fromMSecsSinceEpoch(ms);
        lastMs = ms;
        lastZone = zone;
    }
    return last;
}

qint64 SystemClock::monotonicMs() const {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<qint64>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

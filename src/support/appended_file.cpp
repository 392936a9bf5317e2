#include "support/appended_file.h"

#include "support/classic_errors.h"
#include "support/trusted_paths.h"

#include <QHash>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using SteadyClock = std::chrono::steady_clock;
constexpr std::chrono::minutes kSyncEvery{1};

// Appended files not yet forced to disk, and when each was last forced.
QHash<QByteArray, SteadyClock::time_point>& LastSync() {
    static QHash<QByteArray, SteadyClock::time_point> times;
    return times;
}
QHash<QByteArray, bool>& Unsynced() {
    static QHash<QByteArray, bool> files;
    return files;
}

bool Fail(FileFailure* failure, int number, int step) {
    return RecordFileFailure(failure, number, step, failure->procedure);
}

bool WriteAll(int fd, const QByteArray& bytes) {
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += n;
    }
    return true;
}

} // namespace

bool AppendWholeLines(const QString& path, const QByteArray& bytes, AppendSync sync, FileFailure* failure,
                      int step) {
    const QByteArray name = UsableFileName(path);
    if (name.isEmpty()) {
        return Fail(failure, 52, step);
    }
    bool refused = false;
    const int fd = OpenTrusted(name, O_WRONLY | O_APPEND | O_CREAT, 0666, &refused);
    if (fd < 0) {
        Fail(failure, ClassicErrnoNumber(errno), step);
        if (refused) {
            failure->description = ForeignLinkText();
        }
        return false;
    }
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    int number = ok ? 61 : 75;
    // Written whole, or taken back out: the last block of the file may have room for a line on
    // an otherwise full disk, so the write itself is the test.
    if (ok && !WriteAll(fd, bytes)) {
        number = errno == ENOSPC || errno == EDQUOT || errno == 0 ? 61 : ClassicErrnoNumber(errno);
        // What did go in is taken back out: the file keeps ending in a whole line.
        if (::ftruncate(fd, st.st_size) != 0) {
            errno = 0;
        }
        ok = false;
    }
    const auto now = SteadyClock::now();
    const auto last = LastSync().constFind(name);
    const bool due = sync == AppendSync::Now || last == LastSync().constEnd() || now - *last >= kSyncEvery;
    if (ok && due) {
        ok = ::fdatasync(fd) == 0;
        LastSync().insert(name, now);
        Unsynced().remove(name);
    } else if (ok) {
        Unsynced().insert(name, true);
    }
    ok = ::close(fd) == 0 && ok;
    return ok || Fail(failure, number, step);
}

void SyncAppendedFiles() {
    const auto now = SteadyClock::now();
    for (auto it = Unsynced().cbegin(); it != Unsynced().cend(); ++it) {
        bool refused = false;
        const int fd = OpenTrusted(it.key(), O_WRONLY | O_APPEND, 0, &refused);
        if (fd >= 0) {
            ::fdatasync(fd);
            ::close(fd);
        }
        LastSync().insert(it.key(), now);
    }
    Unsynced().clear();
}

qint64 RepairLogTail(const QString& path) {
    const QByteArray name = UsableFileName(path);
    bool refused = false;
    const int fd = name.isEmpty() ? -1 : OpenTrusted(name, O_RDWR, 0, &refused);
    if (fd < 0) {
        return 0;
    }
    struct stat st {};
    qint64 end = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? st.st_size : 0;
    const qint64 size = end;
    // From the end backwards, a chunk at a time, to the last line end: a NUL run (data the
    // power cut kept from the disk) or a line cut short lies after it.
    constexpr qint64 kChunk = 65536;
    QByteArray chunk;
    qint64 keep = -1;
    while (keep < 0 && end > 0) {
        const qint64 from = end > kChunk ? end - kChunk : 0;
        chunk.resize(end - from);
        if (::pread(fd, chunk.data(), static_cast<size_t>(chunk.size()), from) != chunk.size()) {
            ::close(fd);
            return 0;
        }
        const qint64 at = chunk.lastIndexOf('\n');
        if (at >= 0) {
            keep = from + at + 1;
        }
        end = from;
    }
    if (keep < 0) {
        keep = 0;
    }
    const qint64 cut = size - keep;
    if (cut > 0 && (::ftruncate(fd, keep) != 0 || ::fdatasync(fd) != 0)) {
        ::close(fd);
        return 0;
    }
    ::close(fd);
    return cut;
}

QStringList RepairLogTails(const QStringList& paths) {
    QStringList said;
    for (const QString& path : paths) {
        const qint64 cut = RepairLogTail(path);
        if (cut > 0) {
            said.append(path + QStringLiteral(": an unfinished last line (") + QString::number(cut) +
                        QStringLiteral(" bytes, left by a power cut or a full disk) was cut off"));
        }
    }
    return said;
}

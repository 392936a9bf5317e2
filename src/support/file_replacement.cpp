#include "support/file_replacement.h"

#include "support/file_failures.h"
#include "support/trusted_paths.h"

#include <QHash>

#include <cerrno>
#include <chrono>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

bool FailWith(FileFailure* failure, int number, int step) {
    return RecordFileFailure(failure, number, step, QStringLiteral("BinaryCopyFile"));
}

bool RefuseLink(FileFailure* failure) {
    FailWith(failure, 70, 70);
    failure->description = ForeignLinkText();
    return false;
}

// Written over from the start and cut to length, without emptying the file first: ext4 starts
// the write-back of a file truncated to nothing at its close, and the next truncation waits for it.
// A file known to be no longer than the bytes needs no cut.
bool WriteOver(int fd, const QByteArray& bytes, off_t sizeBefore = LLONG_MAX) {
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::pwrite(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done), done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += n;
    }
    return sizeBefore <= bytes.size() || ::ftruncate(fd, bytes.size()) == 0;
}

// A swap that the folder or the file refuses, as opposed to a failing disk.
bool SwapRefused(int error) {
    return error == EACCES || error == EPERM || error == EBUSY || error == EXDEV || error == EROFS;
}

bool WriteInPlace(const QByteArray& target, const QByteArray& bytes, bool sync, FileFailure* failure) {
    const int fd = ::open(target.constData(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return FailWith(failure, ClassicErrnoNumber(errno), 70);
    }
    // Half a file is what a full disk would leave here: without room for all of it, nothing
    // is written.
    struct statvfs vfs {};
    const bool room =
        ::fstatvfs(fd, &vfs) == 0 && static_cast<unsigned long long>(vfs.f_bavail) * vfs.f_frsize >=
                                         static_cast<unsigned long long>(bytes.size());
    const bool written = room && WriteOver(fd, bytes) && (!sync || ::fdatasync(fd) == 0);
    const bool closed = ::close(fd) == 0;
    if (!room || !written || !closed) {
        return FailWith(failure, 61, room ? 80 : 70);
    }
    return true;
}

// Gives the side file the target's mode and, where allowed, its owner.
bool TakeModeAndOwner(int fd, const struct stat& target) {
    struct stat own {};
    if (::fstat(fd, &own) != 0) {
        return false;
    }
    if (own.st_uid != target.st_uid || own.st_gid != target.st_gid) {
        // Only root may give a file away: for anyone else the owner stays the writer's.
        if (::fchown(fd, target.st_uid, target.st_gid) != 0) {
            errno = 0;
        }
    }
    return (own.st_mode & 07777) == (target.st_mode & 07777) || ::fchmod(fd, target.st_mode & 07777) == 0;
}

// Makes a new name in the target's folder last through a power cut.
void SyncFolderOf(const QByteArray& target) {
    const int slash = target.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : target.left(slash);
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// When each target last had a swap whose data were forced to disk first. At fast poll rates
// forcing every cycle would hold the disk busy; the swaps in between go through a fresh file
// renamed over the old one, which ext4 (auto_da_alloc) and btrfs write out before the rename
// itself: a power cut may lose them, but leaves a whole file.
using SteadyClock = std::chrono::steady_clock;
constexpr std::chrono::seconds kSyncedSwapEvery{2};
thread_local QHash<QByteArray, SteadyClock::time_point> lastSyncedSwap;

bool SyncDue(const QByteArray& target) {
    const auto found = lastSyncedSwap.constFind(target);
    return found == lastSyncedSwap.constEnd() || SteadyClock::now() - *found >= kSyncedSwapEvery;
}

// The side file, made afresh: never a file or link someone put there.
int CreateSideFile(const QByteArray& side) {
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::open(side.constData(), flags, 0666);
    if (fd < 0 && errno == EEXIST && ::unlink(side.constData()) == 0) {
        fd = ::open(side.constData(), flags, 0666);
    }
    return fd;
}

bool Replace(const QString& dest, const QByteArray& bytes, bool forceSync, FileFailure* failure) {
    const QByteArray name = UsableFileName(dest);
    if (name.isEmpty()) {
        return FailWith(failure, 52, 70);
    }
    // One look at the file every cycle: a folder in dest's place must never be swapped away, and
    // an existing file that may not be written is refused. A missing folder shows when the side
    // file cannot be made.
    struct stat st {};
    bool exists = false;
    bool refused = false;
    const QByteArray target = FollowTrustedLinks(name, &st, &exists, &refused);
    if (refused) {
        return RefuseLink(failure);
    }
    if (exists) {
        if (!S_ISREG(st.st_mode)) {
            return FailWith(failure, 75, 70);
        }
        if (::faccessat(AT_FDCWD, target.constData(), W_OK, AT_EACCESS) != 0) {
            return FailWith(failure, 70, 70);
        }
        // Another name of the same file would keep the old content after a swap.
        if (st.st_nlink > 1) {
            return WriteInPlace(target, bytes, forceSync, failure);
        }
    }
    // The side file sits beside the target, so the swap never crosses file systems.
    const QByteArray side = target + ".new";
    const int fd = CreateSideFile(side);
    if (fd < 0) {
        const int error = errno;
        if (exists && SwapRefused(error)) {
            return WriteInPlace(target, bytes, forceSync, failure);
        }
        return FailWith(failure, ClassicErrnoNumber(error), 70);
    }
    // A new name is forced to disk with its folder, whatever the pace.
    const bool sync = forceSync || !exists || SyncDue(target);
    bool ok = WriteOver(fd, bytes, 0) && (!exists || TakeModeAndOwner(fd, st));
    ok = ok && (!sync || ::fdatasync(fd) == 0);
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        ::unlink(side.constData());
        return FailWith(failure, 61, 80);
    }
    if (::rename(side.constData(), target.constData()) != 0) {
        const int error = errno;
        ::unlink(side.constData());
        if (exists && SwapRefused(error)) {
            return WriteInPlace(target, bytes, forceSync, failure);
        }
        return FailWith(failure, 75, 90);
    }
    if (sync) {
        lastSyncedSwap.insert(target, SteadyClock::now());
    }
    // The rename itself lasts only once the folder is on disk: for a new name, and for a daily file.
    if (!exists || forceSync) {
        SyncFolderOf(target);
    }
    return true;
}

} // namespace

bool ReplaceFileDeferred(const QString& dest, const QByteArray& bytes, FileFailure* failure) {
    return Replace(dest, bytes, false, failure);
}

bool ReplaceFileSynced(const QString& dest, const QByteArray& bytes, FileFailure* failure) {
    return Replace(dest, bytes, true, failure);
}

ScratchWrite WriteScratchFile(const QString& path, const QByteArray& bytes, int* error) {
    const QByteArray name = UsableFileName(path);
    int fd = -1;
    bool refused = false;
    if (!name.isEmpty()) {
        fd = OpenTrusted(name, O_RDWR, 0, &refused);
        // A missing scratch file is made afresh, never through what someone put in its place.
        if (fd < 0 && errno == ENOENT) {
            fd = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        }
    }
    if (fd < 0) {
        if (error != nullptr) {
            *error = name.isEmpty() ? ENAMETOOLONG : errno;
        }
        return refused ? ScratchWrite::ForeignLink : ScratchWrite::NotOpened;
    }
    ScratchWrite result = ScratchWrite::Done;
    struct stat st {};
    if (!WriteOver(fd, bytes)) {
        result = ScratchWrite::WriteFailed;
    } else if (::fstat(fd, &st) != 0 || st.st_size != bytes.size()) {
        result = ScratchWrite::ShortOnDisk;
    }
    if (::close(fd) != 0 && result == ScratchWrite::Done) {
        result = ScratchWrite::WriteFailed;
    }
    return result;
}

#include "support/file_replacement.h"

#include "support/file_failures.h"
#include "support/file_utils.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

bool FailWith(FileFailure* failure, int number, int step) {
    return RecordFileFailure(failure, number, step, QStringLiteral("BinaryCopyFile"));
}

int ClassicErrno(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return 76;
    case EACCES:
    case EPERM:
    case EROFS:
        return 70;
    case ENOSPC:
    case EDQUOT:
        return 61;
    default:
        return 75;
    }
}

// The file a chain of symbolic links ends at, whether or not it exists yet; the path itself
// when it is no link. *found is that file's own lstat, which is its stat: no second look-up.
QByteArray FollowLinks(QByteArray path, struct stat* found, bool* exists) {
    *exists = false;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.constData(), &st) != 0) {
            return path;
        }
        if (!S_ISLNK(st.st_mode)) {
            *found = st;
            *exists = true;
            return path;
        }
        char target[PATH_MAX];
        const ssize_t n = ::readlink(path.constData(), target, sizeof target);
        if (n <= 0 || n == static_cast<ssize_t>(sizeof target)) {
            break;
        }
        const QByteArray next(target, static_cast<int>(n));
        const int slash = path.lastIndexOf('/');
        // A relative target is relative to the link's own folder.
        path = next.startsWith('/') || slash < 0 ? next : path.left(slash + 1) + next;
    }
    // A chain too long or unreadable: what stat makes of the last name.
    *exists = ::stat(path.constData(), found) == 0;
    return path;
}

// Written over from the start and cut to length, without emptying the file first: ext4 starts
// the write-back of a file truncated to nothing at its close, and the next truncation waits for it.
bool WriteOver(int fd, const QByteArray& bytes) {
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
    return ::ftruncate(fd, bytes.size()) == 0;
}

// A swap that the folder or the file refuses, as opposed to a failing disk.
bool SwapRefused(int error) {
    return error == EACCES || error == EPERM || error == EBUSY || error == EXDEV || error == EROFS;
}

bool WriteInPlace(const QByteArray& target, const QByteArray& bytes, FileFailure* failure) {
    const int fd = ::open(target.constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return FailWith(failure, ClassicErrno(errno), 70);
    }
    // Half a file is what a full disk would leave here: without room for all of it, nothing
    // is written.
    struct statvfs vfs {};
    const bool room =
        ::fstatvfs(fd, &vfs) == 0 && static_cast<unsigned long long>(vfs.f_bavail) * vfs.f_frsize >=
                                         static_cast<unsigned long long>(bytes.size());
    const bool written = room && WriteOver(fd, bytes);
    const bool closed = ::close(fd) == 0;
    if (!room || !written || !closed) {
        return FailWith(failure, 61, room ? 80 : 70);
    }
    return true;
}

} // namespace

bool ReplaceFileDeferred(const QString& dest, const QByteArray& bytes, FileFailure* failure) {
    if (dest.isEmpty()) {
        return FailWith(failure, 52, 70);
    }
    // One look at the file every cycle: a folder in dest's place must never be swapped away, and
    // an existing file that may not be written is refused. A missing folder shows when the side
    // file cannot be made.
    struct stat st {};
    bool exists = false;
    const QByteArray target = FollowLinks(QFile::encodeName(dest), &st, &exists);
    if (exists) {
        if (!S_ISREG(st.st_mode)) {
            return FailWith(failure, 75, 70);
        }
        if (::faccessat(AT_FDCWD, target.constData(), W_OK, AT_EACCESS) != 0) {
            return FailWith(failure, 70, 70);
        }
        // Another name of the same file would keep the old content after a swap.
        if (st.st_nlink > 1) {
            return WriteInPlace(target, bytes, failure);
        }
    }
    // The side file sits beside the target, so the swap never crosses file systems.
    const QByteArray side = target + ".new";
    const int fd = ::open(side.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int error = errno;
        if (exists && SwapRefused(error)) {
            return WriteInPlace(target, bytes, failure);
        }
        return FailWith(failure, ClassicErrno(error), 70);
    }
    bool ok = WriteOver(fd, bytes);
    if (ok && exists) {
        // The swapped-in file is the side file: give it the target's mode and, where allowed,
        // its owner. Mostly it has them already (it was the target a cycle ago).
        struct stat own {};
        ok = ::fstat(fd, &own) == 0;
        if (ok && (own.st_uid != st.st_uid || own.st_gid != st.st_gid)) {
            // Only root may give a file away: for anyone else the owner stays the writer's.
            if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
                errno = 0;
            }
        }
        if (ok && (own.st_mode & 07777) != (st.st_mode & 07777)) {
            ok = ::fchmod(fd, st.st_mode & 07777) == 0;
        }
    }
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        ::unlink(side.constData());
        return FailWith(failure, 61, 80);
    }
    // Swapped in one step: the target is the new file, the side file keeps the old one to be
    // written over next time. A plain rename over an existing file would make ext4 start writing
    // the new one back at once and the old one's release wait for the previous write-back.
    if (::renameat2(AT_FDCWD, side.constData(), AT_FDCWD, target.constData(), RENAME_EXCHANGE) == 0) {
        return true;
    }
    // No target yet, or a file system without the swap.
    if (::rename(side.constData(), target.constData()) == 0) {
        return true;
    }
    const int error = errno;
    ::unlink(side.constData());
    if (exists && SwapRefused(error)) {
        return WriteInPlace(target, bytes, failure);
    }
    return FailWith(failure, 75, 90);
}

ScratchWrite WriteScratchFile(const QString& path, const QByteArray& bytes) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        return ScratchWrite::NotOpened;
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

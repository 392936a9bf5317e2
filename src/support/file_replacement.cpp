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
#include <utility>
#include <vector>

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

// Gives the side file the target's mode and, where allowed, its owner. Mostly it has them
// already: it was the target a cycle ago.
bool TakeModeAndOwner(int fd, const struct stat& own, const struct stat& target) {
    if (own.st_uid != target.st_uid || own.st_gid != target.st_gid) {
        // Only root may give a file away: for anyone else the owner stays the writer's.
        if (::fchown(fd, target.st_uid, target.st_gid) != 0) {
            errno = 0;
        }
    }
    return (own.st_mode & 07777) == (target.st_mode & 07777) || ::fchmod(fd, target.st_mode & 07777) == 0;
}

// Descriptors kept open between cycles for the files rewritten every cycle, so that a steady
// cycle neither opens, examines nor closes them. A held file is used only while a fresh look by
// name still finds that very file (the open descriptor keeps its inode from being reused);
// anything else closes it and the full path runs, which holds the files again once it succeeds.
struct HeldFile {
    int fd = -1;
    struct stat st {};

    bool same(const struct stat& now) const { return now.st_dev == st.st_dev && now.st_ino == st.st_ino; }
    // Nor chmod'ed nor given away (nor, looked at with lstat, made a link): what the full
    // path's open would have been refused or led elsewhere by.
    bool unchanged(const struct stat& now) const {
        return same(now) && now.st_mode == st.st_mode && now.st_uid == st.st_uid && now.st_gid == st.st_gid;
    }
};

struct Held {
    QByteArray name;   // as the caller names it
    QByteArray target; // a replacement's: where the links led, and its side file
    QByteArray side;
    HeldFile file;  // the scratch file, or the replaced target
    HeldFile spare; // the side file
};

// A handful of files at most (the state file, its scratch file, the listing); per thread, since
// only the poll's thread writes them.
class HeldFiles {
public:
    HeldFiles() = default;
    HeldFiles(const HeldFiles&) = delete;
    HeldFiles& operator=(const HeldFiles&) = delete;
    ~HeldFiles() {
        for (Held& held : held_) {
            Close(held);
        }
    }

    Held* find(const QByteArray& name) {
        for (Held& held : held_) {
            if (held.name == name) {
                return &held;
            }
        }
        return nullptr;
    }
    void drop(Held* held) {
        Close(*held);
        held_.erase(held_.begin() + (held - held_.data()));
    }
    void add(Held held) {
        if (Held* old = find(held.name)) {
            drop(old);
        }
        if (held_.size() == kMost) {
            drop(held_.data());
        }
        held_.push_back(std::move(held));
    }

    static void Close(Held& held) {
        for (const int fd : {held.file.fd, held.spare.fd}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }

private:
    static constexpr size_t kMost = 4;
    std::vector<Held> held_;
};

thread_local HeldFiles heldScratch;
thread_local HeldFiles heldSwaps;

// A steady cycle of a scratch file: one look by name, the write, a cut only where it was longer.
// Its size on disk is then the bytes' by construction.
bool WriteHeldScratch(const QByteArray& name, const QByteArray& bytes) {
    Held* held = heldScratch.find(name);
    if (held == nullptr) {
        return false;
    }
    struct stat now {};
    if (::stat(name.constData(), &now) == 0 && held->file.unchanged(now) &&
        WriteOver(held->file.fd, bytes, now.st_size)) {
        return true;
    }
    heldScratch.drop(held);
    return false;
}

// A steady cycle of a replacement: the same looks at the target as the full path, then the side
// file, which must still be the held one (another file there would be swapped in with the wrong
// content), written through its descriptor and swapped in. The two then trade places.
bool SwapHeld(const QByteArray& name, const QByteArray& bytes) {
    Held* held = heldSwaps.find(name);
    if (held == nullptr) {
        return false;
    }
    HeldFile& target = held->file;
    HeldFile& side = held->spare;
    struct stat st {};
    struct stat sideNow {};
    bool exists = false;
    const bool ready =
        FollowLinks(name, &st, &exists) == held->target && exists && target.same(st) && st.st_nlink == 1 &&
        ::faccessat(AT_FDCWD, held->target.constData(), W_OK, AT_EACCESS) == 0 &&
        ::lstat(held->side.constData(), &sideNow) == 0 && side.unchanged(sideNow) && sideNow.st_nlink == 1 &&
        WriteOver(side.fd, bytes, sideNow.st_size) && TakeModeAndOwner(side.fd, sideNow, st);
    if (!ready || ::renameat2(AT_FDCWD, held->side.constData(), AT_FDCWD, held->target.constData(),
                              RENAME_EXCHANGE) != 0) {
        heldSwaps.drop(held);
        return false;
    }
    std::swap(target, side);
    side.st = st; // the old target as it was just seen, now under the side file's name
    return true;
}

// After a swap by the full path: both files held for the next cycles, if they are still the
// ones swapped (now: the written side file's inode, now the target; was: the old target's).
void HoldSwapped(const QByteArray& name, const QByteArray& target, const QByteArray& side,
                 const struct stat& now, const struct stat& was) {
    Held held{name,
              target,
              side,
              {::open(target.constData(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC), {}},
              {::open(side.constData(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC), {}}};
    if (held.file.fd >= 0 && held.spare.fd >= 0 && ::fstat(held.file.fd, &held.file.st) == 0 &&
        ::fstat(held.spare.fd, &held.spare.st) == 0 && held.file.same(now) && held.spare.same(was)) {
        heldSwaps.add(std::move(held));
        return;
    }
    HeldFiles::Close(held);
}

} // namespace

bool ReplaceFileDeferred(const QString& dest, const QByteArray& bytes, FileFailure* failure) {
    if (dest.isEmpty()) {
        return FailWith(failure, 52, 70);
    }
    const QByteArray name = QFile::encodeName(dest);
    if (SwapHeld(name, bytes)) {
        return true;
    }
    // One look at the file every cycle: a folder in dest's place must never be swapped away, and
    // an existing file that may not be written is refused. A missing folder shows when the side
    // file cannot be made.
    struct stat st {};
    bool exists = false;
    const QByteArray target = FollowLinks(name, &st, &exists);
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
    // The swapped-in file is the side file.
    struct stat own {};
    if (ok && exists) {
        ok = ::fstat(fd, &own) == 0 && TakeModeAndOwner(fd, own, st);
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
        if (exists) {
            HoldSwapped(name, target, side, own, st);
        }
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
    const QByteArray name = QFile::encodeName(path);
    if (WriteHeldScratch(name, bytes)) {
        return ScratchWrite::Done;
    }
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
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
    if (result == ScratchWrite::Done) {
        // Kept open for the next cycles.
        heldScratch.add({name, {}, {}, {fd, st}, {}});
    } else {
        ::close(fd);
    }
    return result;
}

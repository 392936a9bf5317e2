#include "support/trusted_paths.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <unistd.h>

QByteArray UsableFileName(const QString& name) {
    if (name.isEmpty() || name.contains(QChar(0))) {
        return {};
    }
    return QFile::encodeName(name);
}

bool LinkTrusted(const struct stat& link) {
    return link.st_uid == ::geteuid() || link.st_uid == 0;
}

QByteArray FollowTrustedLinks(QByteArray path, struct stat* found, bool* exists, bool* refused) {
    *exists = false;
    *refused = false;
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
        if (!LinkTrusted(st)) {
            *refused = true;
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
    // A chain too long or unreadable: refused like a loop.
    *refused = true;
    return path;
}

int OpenTrusted(const QByteArray& name, int flags, mode_t mode, bool* refused) {
    *refused = false;
    const int fd = ::open(name.constData(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0 || errno != ELOOP) {
        return fd;
    }
    struct stat st {};
    bool exists = false;
    const QByteArray target = FollowTrustedLinks(name, &st, &exists, refused);
    if (*refused) {
        errno = ELOOP;
        return -1;
    }
    return ::open(target.constData(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
}

QString ForeignLinkText() {
    return QStringLiteral("Permission denied: a link made by another user is not followed");
}

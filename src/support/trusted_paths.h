#pragma once

#include "support/classic_errors.h"

#include <QByteArray>
#include <QString>

#include <sys/stat.h>

// Opening files in a folder that someone else may control. A symbolic link is followed only when
// it belongs to the process's own user or to root: the rule Linux applies in sticky folders,
// applied everywhere, so that a run as root in another user's folder never writes where that
// user points it.

// The name as the system sees it; empty when it cannot name a file (empty, or holding a NUL,
// which would cut it short and make several names one).
QByteArray UsableFileName(const QString& name);

// A link the process may follow.
bool LinkTrusted(const struct stat& link);

// The file a chain of symbolic links ends at, whether or not it exists yet; the path itself
// when it is no link. *found is that file's stat when *exists. *refused when a link on the way
// belongs to another user: nothing may then be done through it.
QByteArray FollowTrustedLinks(QByteArray path, struct stat* found, bool* exists, bool* refused);

// open(2) that follows only trusted links; -1 with errno ELOOP and *refused for another's link.
int OpenTrusted(const QByteArray& name, int flags, mode_t mode, bool* refused);

// The text a refused link is reported with.
QString ForeignLinkText();

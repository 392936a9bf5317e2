#pragma once

#include <QByteArray>
#include <QString>

struct FileFailure;

// Puts bytes in place of dest the way a file rewritten every poll cycle needs it, keeping what
// the user set up: a symbolic link is followed and its target replaced (the link stays), and the
// target keeps its permission bits and, where the program may set it, its owner. The bytes go
// to a side file beside the target and are swapped in, without forcing them to disk: readers and
// a crash of the program still see the old or the new file whole. Where no swap can be made (a
// folder the program may not write, a file that is a mount point or has other names) an existing
// writable file is written over in place, once the disk is known to have room for it. False,
// with the failing step (70 to 90), when dest is left as it was. After a swap both files stay
// open for the next call on this thread, which then looks them up by name but opens nothing.
bool ReplaceFileDeferred(const QString& dest, const QByteArray& bytes, FileFailure* failure);

// The scratch file of a cycle written straight through the system calls (no QFile, no path
// lookups after the open): opened for reading and writing, made when missing, written over
// from the start, cut to length, and its size on disk checked. It stays open for the next call
// on this thread, which writes through it while the name still leads to it unchanged.
enum class ScratchWrite { NotOpened, WriteFailed, ShortOnDisk, Done };
ScratchWrite WriteScratchFile(const QString& path, const QByteArray& bytes);

#pragma once

#include <QByteArray>
#include <QString>

struct FileFailure;

// Puts bytes in place of dest the way a file rewritten every poll cycle needs it, keeping what
// the user set up: a symbolic link is followed and its target replaced (the link stays) when the
// process's own user or root made it, and the target keeps its permission bits and, where the
// program may set it, its owner. The bytes go to a side file made afresh beside the target and
// are renamed over it, so readers and a crash see the old or the new file whole. A power cut
// leaves the old or a new file whole too: the side file's data reach the disk before the swap
// at least every few seconds and whenever the swap makes a new name (its folder is then forced
// as well). Where no swap can be made (a folder the program may not write, a file with other
// names) an existing writable file is written over in place, once the disk is known to have room
// for it. False, with the failing step (70 to 90), when dest is left as it was.
bool ReplaceFileDeferred(const QString& dest, const QByteArray& bytes, FileFailure* failure);

// The same, with the data and the swap forced to disk before it returns: for daily files.
bool ReplaceFileSynced(const QString& dest, const QByteArray& bytes, FileFailure* failure);

// The scratch file of a cycle: opened for reading and writing, made afresh when missing, written
// over from the start, cut to length, and its size on disk checked. A link someone else made in
// its place is refused. error: errno of a failed open.
enum class ScratchWrite { NotOpened, ForeignLink, WriteFailed, ShortOnDisk, Done };
ScratchWrite WriteScratchFile(const QString& path, const QByteArray& bytes, int* error = nullptr);

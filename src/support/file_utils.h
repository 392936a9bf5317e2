#pragma once

#include "support/classic_errors.h"

#include <QString>

class ErrorLog;
class QByteArray;
class QFileDevice;

// True only for an existing regular file (a folder, a missing or an empty path give false).
bool FileExists(const QString& folderspec);

// Puts a byte-for-byte copy of Source in place of Dest. Dest is replaced through a temporary
// file and a rename, so it holds either its old bytes or all of Source's. The first failure is
// logged with the number of its step (10 to 90); a second one ends the copy.
void BinaryCopyFile(ErrorLog& log, const QString& Source, const QString& Dest);

// Writes all the bytes and pushes them out of Qt's buffer; false on a short write or a failed
// flush (a full disk shows only there).
bool WriteAllAndFlush(QFileDevice& file, const QByteArray& bytes);

// Classic run-time error number for a failed file operation on path (53, 61, 70, 75, 76).
int ClassicFileError(const QFileDevice& file, const QString& path);

// A file name in the working directory whatever its letter case: the exact name when it exists,
// else the first entry that matches it without regard to case, else the name itself.
QString FindFileIgnoringCase(const QString& name);

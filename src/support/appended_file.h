#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

struct FileFailure;

// Logs users keep for years (the state-of-charge log, the daily summary, the error log, the
// control log) grow by whole lines only, whatever the disk and the power do.

enum class AppendSync {
    Paced, // forced to disk when the file's last forcing is a minute old, else by SyncAppendedFiles
    Now,   // forced to disk before returning
};

// Appends bytes (whole lines) in one write to the file, made when missing. A write that stops
// short is cut back, so a full disk never leaves part of a line. A link is followed only when the process's
// user or root made it. False, with the classic error number and the given step, when nothing was added.
bool AppendWholeLines(const QString& path, const QByteArray& bytes, AppendSync sync, FileFailure* failure,
                      int step = 0);

// Forces to disk every file appended to since its last forcing: once a minute and at day's end.
void SyncAppendedFiles();

// Cuts a NUL or partial tail (what a power cut leaves after the last whole line) back to the
// last whole line. The number of bytes cut; 0 when the file ends well, is missing or cannot be
// changed.
qint64 RepairLogTail(const QString& path);

// RepairLogTail for each file; one line for each file that was cut, to be said once.
QStringList RepairLogTails(const QStringList& paths);

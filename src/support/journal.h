#pragma once

#include <QByteArray>
#include <QString>

// Syslog priorities of the lines on standard error and output.
enum class Priority { Error = 3, Warning = 4, Info = 6, Debug = 7 };

// "<N>" when the output goes to the journal (systemd sets JOURNAL_STREAM), so that journald files
// each line under its priority and `journalctl -p err` finds the failures; empty otherwise.
QByteArray PriorityPrefix(Priority priority);

// Each line of text on standard error, behind its prefix.
void PrintToStderr(Priority priority, const QString& text);

// Qt's own messages with the same prefixes; nothing changes outside the journal.
void PrefixQtMessages();

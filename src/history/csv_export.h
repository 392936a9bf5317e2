#pragma once

#include "history/history_rows.h"

#include <QByteArray>
#include <QDate>
#include <QString>

#include <vector>

class QIODevice;

// CSV after RFC 4180: a header row, CR LF line ends; figures as the files write them, time in
// ISO 8601 local time with its offset. No field needs quotes: they are numbers and times.
QByteArray CyclesCsvHeader();
QByteArray DaysCsvHeader();
QByteArray CyclesCsv(const std::vector<CycleRow>& rows);
QByteArray DaysCsv(const std::vector<DayRow>& rows);

// ISO 8601 local time with its offset ("2026-12-09T14:05:00+01:00"), to the second.
QString IsoLocalTime(qint64 timeMs);

enum class ExportKind { Cycles, Days };

// Writes the store's cycles or days between the two local days (inclusive; invalid: open end) to
// out, a fixed buffer at a time. False with a one-line reason when the store cannot be read.
bool ExportCsv(const QString& path, ExportKind kind, const QDate& from, const QDate& to, QIODevice& out,
               QString* error);

#include "history/csv_export.h"

#include "history/history_db.h"

#include <QDateTime>
#include <QIODevice>

namespace {

QByteArray Field(const QString& text) {
    QByteArray bytes = text.toUtf8();
    if (bytes.contains(',') || bytes.contains('"') || bytes.contains('\r') || bytes.contains('\n')) {
        bytes.replace("\"", "\"\"");
        bytes = '"' + bytes + '"';
    }
    return bytes;
}

template <size_t N> QByteArray Header(const char* first, const char* const (&columns)[N]) {
    QByteArray line = first;
    for (const char* c : columns) {
        line += ',';
        line += c;
    }
    return line + "\r\n";
}

template <typename Row> void AppendFigures(const Row& row, QByteArray* out) {
    for (const double v : row.figures) {
        *out += ',';
        *out += Field(FigureText(v));
    }
    *out += "\r\n";
}

// Days are read a month at a time, so a long export never holds the whole store.
constexpr int kChunkDays = 31;

} // namespace

QString IsoLocalTime(qint64 timeMs) {
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(timeMs - timeMs % 1000);
    const int offset = local.offsetFromUtc();
    const QString sign = offset < 0 ? QStringLiteral("-") : QStringLiteral("+");
    const int minutes = std::abs(offset) / 60;
    return local.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + sign +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QByteArray CyclesCsvHeader() {
    return Header("time", kCycleColumns);
}

QByteArray DaysCsvHeader() {
    return Header("date", kDayColumns);
}

QByteArray CyclesCsv(const std::vector<CycleRow>& rows) {
    QByteArray out;
    for (const CycleRow& row : rows) {
        out += Field(IsoLocalTime(row.timeMs));
        AppendFigures(row, &out);
    }
    return out;
}

QByteArray DaysCsv(const std::vector<DayRow>& rows) {
    QByteArray out;
    for (const DayRow& row : rows) {
        out += row.date.toString(Qt::ISODate).toLatin1();
        AppendFigures(row, &out);
    }
    return out;
}

bool ExportCsv(const QString& path, ExportKind kind, const QDate& from, const QDate& to, QIODevice& out,
               QString* error) {
    HistoryDb db;
    DbError dbError;
    if (!db.openForReading(path, &dbError)) {
        *error = QStringLiteral("cannot read the history store %1: %2").arg(path, dbError.text);
        return false;
    }
    const QDate last = to.isValid() ? to : QDate::currentDate().addDays(1);
    QDate first = from;
    if (!first.isValid()) {
        first = db.firstDate();
        if (!first.isValid()) {
            first = last;
        }
    }
    out.write(kind == ExportKind::Cycles ? CyclesCsvHeader() : DaysCsvHeader());
    for (QDate day = first; day <= last; day = day.addDays(kChunkDays)) {
        const QDate end = std::min(day.addDays(kChunkDays - 1), last);
        bool ok = false;
        if (kind == ExportKind::Cycles) {
            std::vector<CycleRow> rows;
            ok = db.cycles(DayStartMs(day), DayStartMs(end.addDays(1)), 0, &rows, &dbError);
            out.write(CyclesCsv(rows));
        } else {
            std::vector<DayRow> rows;
            ok = db.days(day, end, &rows, &dbError);
            out.write(DaysCsv(rows));
        }
        if (!ok) {
            *error = QStringLiteral("cannot read the history store %1: %2").arg(path, dbError.text);
            return false;
        }
    }
    return true;
}

#include "history/csv_export.h"

#include "history/history_reader.h"

#include <QDateTime>
#include <QIODevice>

#include <charconv>

namespace {

template <size_t N> QByteArray Header(const char* first, const char* const (&columns)[N]) {
    QByteArray line = first;
    for (const char* c : columns) {
        line += ',';
        line += c;
    }
    return line + "\r\n";
}

// A whole number of a figure's units as its decimal text: 615 tenths are "61.5", 570 are "57".
void AppendUnits(qint64 units, int scale, QByteArray* out) {
    char text[32];
    char* end = text;
    if (units < 0) {
        *end++ = '-';
        units = -units;
    }
    end = std::to_chars(end, text + sizeof text, units / scale).ptr;
    qint64 fraction = units % scale;
    if (fraction != 0) {
        *end++ = '.';
        for (int digit = scale / 10; digit > 0 && fraction != 0; digit /= 10) {
            *end++ = static_cast<char>('0' + fraction / digit);
            fraction %= digit;
        }
    }
    out->append(text, end - text);
}

// Local times a quarter of an hour at a time: zones change their offset on a quarter hour at
// most, so one conversion serves every cycle of the quarter.
class LocalTimes {
public:
    void append(qint64 timeMs, QByteArray* out) {
        const qint64 seconds = timeMs >= 0 ? timeMs / 1000 : (timeMs - 999) / 1000;
        if (seconds < quarter_ || seconds >= quarter_ + 900) {
            quarter_ = seconds - ((seconds % 900) + 900) % 900;
            const QDateTime local = QDateTime::fromSecsSinceEpoch(quarter_);
            offset_ = local.offsetFromUtc();
            date_ = local.toString(QStringLiteral("yyyy-MM-ddT")).toLatin1();
            const int minutes = std::abs(offset_) / 60;
            zone_ = QStringLiteral("%1%2:%3")
                        .arg(offset_ < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                        .arg(minutes / 60, 2, 10, QLatin1Char('0'))
                        .arg(minutes % 60, 2, 10, QLatin1Char('0'))
                        .toLatin1();
        }
        const qint64 day = ((seconds + offset_) % 86400 + 86400) % 86400;
        const int parts[3] = {static_cast<int>(day / 3600), static_cast<int>(day / 60 % 60),
                              static_cast<int>(day % 60)};
        char clock[8] = {0, 0, ':', 0, 0, ':', 0, 0};
        for (size_t i = 0; i < 3; ++i) {
            clock[i * 3] = static_cast<char>('0' + parts[i] / 10);
            clock[i * 3 + 1] = static_cast<char>('0' + parts[i] % 10);
        }
        out->append(date_);
        out->append(clock, 8);
        out->append(zone_);
    }

private:
    qint64 quarter_ = std::numeric_limits<qint64>::min() / 2;
    int offset_ = 0;
    QByteArray date_;
    QByteArray zone_;
};

void AppendCycle(const CycleRow& row, LocalTimes& times, QByteArray* out) {
    times.append(row.timeMs, out);
    for (int i = 0; i < CycleRow::kFigures; ++i) {
        out->append(',');
        if (row.has(i)) {
            AppendUnits(row.units[static_cast<size_t>(i)], kFigureScale[i], out);
        }
    }
    out->append("\r\n", 2);
}

QString ReadFailure(const QString& path, const DbError& error) {
    return QStringLiteral("cannot read the history store %1: %2").arg(path, error.text);
}

// What goes out is written in blocks of about this size.
constexpr qsizetype kBlock = qsizetype(64) * 1024;

} // namespace

QString IsoLocalTime(qint64 timeMs) {
    QByteArray text;
    LocalTimes times;
    times.append(timeMs, &text);
    return QString::fromLatin1(text);
}

QByteArray CyclesCsvHeader() {
    return Header("time", kCycleColumns);
}

QByteArray DaysCsvHeader() {
    return Header("date", kDayColumns);
}

QByteArray CyclesCsv(const std::vector<CycleRow>& rows) {
    QByteArray out;
    LocalTimes times;
    for (const CycleRow& row : rows) {
        AppendCycle(row, times, &out);
    }
    return out;
}

QByteArray DaysCsv(const std::vector<DayRow>& rows) {
    QByteArray out;
    for (const DayRow& row : rows) {
        out += row.date.toString(Qt::ISODate).toLatin1();
        for (const double v : row.figures) {
            out += ',';
            out += FigureText(v).toLatin1();
        }
        out += "\r\n";
    }
    return out;
}

bool ExportCsv(const QString& path, ExportKind kind, const QDate& from, const QDate& to, QIODevice& out,
               QString* error) {
    HistoryReader db;
    DbError dbError;
    if (!db.open(path, &dbError)) {
        *error = ReadFailure(path, dbError);
        return false;
    }
    const QDate last = to.isValid() ? to : QDate::currentDate().addDays(1);
    QDate first = from.isValid() ? from : db.firstDate();
    if (!first.isValid()) {
        first = last;
    }
    if (kind == ExportKind::Days) {
        std::vector<DayRow> rows; // a row a day: a lifetime of them is small
        const bool ok = db.days(first, last, &rows, &dbError);
        out.write(DaysCsvHeader() + DaysCsv(rows));
        *error = ok ? QString() : ReadFailure(path, dbError);
        return ok;
    }
    QByteArray block = CyclesCsvHeader();
    block.reserve(kBlock + 4096);
    LocalTimes times;
    bool written = true;
    const bool ok = db.eachCycle(
        DayStartMs(first), DayStartMs(last.addDays(1)),
        [&](const CycleRow& row) {
            AppendCycle(row, times, &block);
            if (block.size() >= kBlock) {
                written = written && out.write(block) == block.size();
                block.resize(0); // keeps its room
            }
        },
        &dbError);
    written = written && out.write(block) == block.size();
    if (!ok) {
        *error = ReadFailure(path, dbError);
    } else if (!written) {
        *error = QStringLiteral("cannot write the export: %1").arg(out.errorString());
    }
    return ok && written;
}

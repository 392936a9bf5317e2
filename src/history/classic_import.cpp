#include "history/classic_import.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <array>

namespace {

constexpr qint64 kHalfDayMs = qint64(12) * 3600 * 1000;

// The line with digits of any script as ASCII and the invisible marks some locales put around
// their dates left out, so that "١٠/١٢/٢٠٢٦" reads as 10/12/2026 rather than as nothing.
QString Normalized(const QString& line) {
    QString out;
    out.reserve(line.size());
    for (const QChar c : line) {
        if (c.category() == QChar::Other_Format) {
            continue;
        }
        if (c.unicode() >= 0x80 && c.isDigit()) {
            out += QChar(u'0' + c.digitValue());
        } else if (c.unicode() == 0x066B) { // the Arabic decimal separator
            out += QLatin1Char('.');
        } else {
            out += c;
        }
    }
    return out;
}

// Calls line(text) for each line of the file, normalized, read a line at a time; a line longer
// than any the classic files write is cut at that length.
template <typename Line> bool EachLine(const QString& path, Line line) {
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        return true;
    }
    char buffer[1024];
    while (true) {
        const qint64 size = file.readLine(buffer, sizeof buffer);
        if (size <= 0) {
            return true;
        }
        qint64 length = size;
        while (length > 0 && (buffer[length - 1] == '\n' || buffer[length - 1] == '\r')) {
            --length;
        }
        if (!line(Normalized(QString::fromUtf8(buffer, static_cast<qsizetype>(length))).trimmed())) {
            return false;
        }
    }
}

const QRegularExpression& DateTimePattern() {
    static const QRegularExpression pattern(QStringLiteral(
        R"(^\s*(\d{1,4})\D(\d{1,2})\D(\d{1,4})\D+(\d{1,2}):(\d{2}):(\d{2})(?:[.,]\d+)?\s*([AaPp]\.?[Mm]\.?)?)"));
    return pattern;
}

const char* OrderName(DateOrder order) {
    switch (order) {
    case DateOrder::MonthDayYear:
        return "month/day/year";
    case DateOrder::YearMonthDay:
        return "year-month-day";
    default:
        return "day/month/year";
    }
}

// The order a file's dates are in: a first field above 12 is a day, a second above 12 a day after
// the month; the more of these wins. A file of ISO dates alone is year-month-day; otherwise, with
// nothing to settle it, the locale's order.
void FindDateOrder(const QString& path, const ClassicDates& dates, ImportTally* tally) {
    int dayFirst = 0;
    int monthFirst = 0;
    int open = 0;
    EachLine(path, [&](const QString& line) {
        const QRegularExpressionMatch m = DateTimePattern().match(line);
        if (m.hasMatch() && m.capturedLength(1) < 4) {
            const bool day = m.captured(1).toInt() > 12;
            const bool month = !day && m.captured(2).toInt() > 12;
            dayFirst += day ? 1 : 0;
            monthFirst += month ? 1 : 0;
            open += day || month ? 0 : 1;
        }
        return true;
    });
    tally->orderFromLocale = dayFirst == 0 && monthFirst == 0 && open > 0;
    tally->order = tally->orderFromLocale                   ? dates.localeOrder
                   : dayFirst >= monthFirst && dayFirst > 0 ? DateOrder::DayMonthYear
                   : monthFirst > 0                         ? DateOrder::MonthDayYear
                                                            : DateOrder::YearMonthDay;
}

// The instant the zone's clocks showed this local time. In the hour the clocks go back over there
// are two: the first not before notBeforeMs (the line before), else the later. In the hour they
// skip there is none: read as if they had not moved yet.
qint64 LocalInstant(const HostDateTime& local, const QTimeZone& zone, qint64 notBeforeMs) {
    const qint64 wall = QDateTime(local.date, local.time, Qt::UTC).toMSecsSinceEpoch();
    qint64 found[2] = {0, 0};
    int count = 0;
    qint64 skipped = 0;
    for (const qint64 probe : {wall - kHalfDayMs, wall + kHalfDayMs}) {
        const int offset = zone.offsetFromUtc(QDateTime::fromMSecsSinceEpoch(probe, Qt::UTC));
        const qint64 instant = wall - qint64(offset) * 1000;
        if (count == 0 && probe < wall) {
            skipped = instant;
        }
        if (zone.offsetFromUtc(QDateTime::fromMSecsSinceEpoch(instant, Qt::UTC)) == offset &&
            (count == 0 || found[0] != instant)) {
            found[count++] = instant;
        }
    }
    if (count == 0) {
        return skipped;
    }
    std::sort(found, found + count);
    return count == 2 && found[0] < notBeforeMs ? found[1] : found[0];
}

// The process's zone. Qt names no zone for TZ given as a file (":/etc/localtime" pinned, or a
// copy): its link into the zone database names it then; failing that, today's offset.
QTimeZone SystemZone() {
    const QTimeZone zone = QTimeZone::systemTimeZone();
    if (zone.isValid()) {
        return zone;
    }
    QByteArray file = qgetenv("TZ");
    file = file.startsWith(':') ? file.mid(1) : file;
    const QString target =
        QFileInfo(file.isEmpty() ? QStringLiteral("/etc/localtime") : QFile::decodeName(file))
            .canonicalFilePath();
    const qsizetype at = target.indexOf(QLatin1String("zoneinfo/"));
    const QTimeZone named(at < 0 ? QByteArray() : target.mid(at + 9).toLatin1());
    return named.isValid() ? named : QTimeZone(QDateTime::currentDateTime().offsetFromUtc());
}

} // namespace

ClassicDates LocaleDates() {
    ClassicDates dates;
    dates.zone = SystemZone();
    const QLocale locale;
    QString order;
    for (const QChar c : locale.dateFormat(QLocale::ShortFormat)) {
        const QChar lower = c.toLower();
        if ((lower == u'd' || lower == u'm' || lower == u'y') && !order.contains(lower)) {
            order += lower;
        }
    }
    dates.localeOrder = order == QLatin1String("mdy")   ? DateOrder::MonthDayYear
                        : order == QLatin1String("ymd") ? DateOrder::YearMonthDay
                                                        : DateOrder::DayMonthYear;
    dates.amText = locale.amText();
    dates.pmText = locale.pmText();
    return dates;
}

HostDateTime ParseHostDateTime(const QString& text, DateOrder order, const ClassicDates& dates) {
    const QRegularExpressionMatch m = DateTimePattern().match(text);
    if (!m.hasMatch()) {
        return {};
    }
    const int parts[3] = {m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt()};
    int day = parts[0];
    int month = parts[1];
    int year = parts[2];
    if (m.capturedLength(1) == 4 || order == DateOrder::YearMonthDay) {
        year = parts[0];
        day = parts[2];
    } else if (order == DateOrder::MonthDayYear) {
        month = parts[0];
        day = parts[1];
    }
    if (year < 100) {
        year += 2000;
    }
    int hour = m.captured(4).toInt();
    const QString half = m.captured(7).toLower();
    const auto marked = [&text, &half](const QString& marker, char latin) {
        return half.startsWith(QLatin1Char(latin)) ||
               (half.isEmpty() && !marker.isEmpty() && text.contains(marker, Qt::CaseInsensitive));
    };
    if (marked(dates.pmText, 'p') && hour < 12) {
        hour += 12;
    } else if (marked(dates.amText, 'a') && hour == 12) {
        hour = 0;
    }
    const QDate date(year, month, day);
    const QTime time(hour, m.captured(5).toInt(), m.captured(6).toInt());
    if (!date.isValid() || !time.isValid()) {
        return {};
    }
    return {date, time};
}

QString TallyText(const ImportTally& tally, const char* rowsName) {
    if (tally.rows == 0 && tally.unreadable == 0) {
        return {};
    }
    QString text = QStringLiteral("%1 %2 from %3 (dates read %4")
                       .arg(tally.rows)
                       .arg(QLatin1String(rowsName), tally.file, QLatin1String(OrderName(tally.order)));
    if (tally.orderFromLocale) {
        text += QStringLiteral(": the locale's order, no date in the file settles it");
    }
    if (tally.unreadable > 0) {
        text += QStringLiteral("; %1 %2 could not be read")
                    .arg(tally.unreadable)
                    .arg(tally.unreadable == 1 ? QStringLiteral("line") : QStringLiteral("lines"));
    }
    return text + QLatin1Char(')');
}

bool ReadDailySummary(const QString& path, const ClassicDates& dates, size_t batch, const TakeDays& take,
                      ImportTally* tally) {
    static const char* const kLifetimes[4] = {"PVChargeLife", "PVDischargeLife", "GridChargeLife",
                                              "GridDischargeLife"};
    FindDateOrder(path, dates, tally);
    std::vector<DayRow> rows;
    DayRow row;
    int found = 0;
    std::array<double, 4> lifetime{};
    std::array<double, 4> lifetimeBefore{};
    auto finish = [&] {
        if (row.date.isValid() && found > 0) {
            // A day equal to its lifetime had no night before it: no day, unless the lifetime
            // itself started from nothing the block before.
            for (size_t i = 0; i < lifetime.size(); ++i) {
                if (row.figures[i] == lifetime[i] && lifetime[i] != 0 && lifetimeBefore[i] != 0) {
                    row.figures[i] = Absent();
                }
            }
            rows.push_back(row);
            ++tally->rows;
            lifetimeBefore = lifetime;
        }
        row = DayRow();
        found = 0;
        lifetime.fill(Absent());
        return rows.size() < batch || (take(rows) && (rows.clear(), true));
    };
    lifetime.fill(Absent());
    lifetimeBefore.fill(Absent());
    const bool read = EachLine(path, [&](const QString& line) {
        const qsizetype equals = line.indexOf(QStringLiteral(" = "));
        if (equals < 0) {
            const HostDateTime header = ParseHostDateTime(line, tally->order, dates);
            if (!header.date.isValid()) {
                tally->unreadable += line.isEmpty() ? 0 : 1;
                return true;
            }
            const bool more = finish();
            row.date = header.date;
            row.figures.fill(Absent());
            return more;
        }
        const QString key = line.left(equals).trimmed();
        const QString text = line.mid(equals + 3);
        const double value = FigureValue(text);
        const bool known = !std::isnan(value) || text.trimmed().isEmpty();
        for (size_t i = 0; i < DayRow::kFigures; ++i) {
            if (key == QLatin1String(kDayColumns[i])) {
                row.figures[i] = value;
                ++found;
                tally->unreadable += known ? 0 : 1;
            } else if (i < lifetime.size() && key == QLatin1String(kLifetimes[i])) {
                lifetime[i] = value;
            }
        }
        return true;
    });
    return read && finish() && (rows.empty() || take(rows));
}

bool ReadSocLog(const QString& path, const ClassicDates& dates, size_t batch, const TakeCycles& take,
                ImportTally* tally) {
    FindDateOrder(path, dates, tally);
    std::vector<CycleRow> rows;
    rows.reserve(batch);
    qint64 before = std::numeric_limits<qint64>::min();
    const bool read = EachLine(path, [&](const QString& line) {
        const qsizetype blank = line.lastIndexOf(QLatin1Char(' '));
        const HostDateTime local = ParseHostDateTime(line, tally->order, dates);
        const double percent = blank < 0 ? Absent() : FigureValue(line.mid(blank + 1));
        if (!local.date.isValid() || std::isnan(percent)) {
            tally->unreadable += line.isEmpty() ? 0 : 1;
            return true;
        }
        CycleRow row;
        row.timeMs = LocalInstant(local, dates.zone, before);
        before = row.timeMs;
        row.set(0, percent);
        rows.push_back(row);
        ++tally->rows;
        if (rows.size() < batch) {
            return true;
        }
        const bool more = take(rows);
        rows.clear();
        return more;
    });
    return read && (rows.empty() || take(rows));
}

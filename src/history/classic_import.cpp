#include "history/classic_import.h"

#include <QFile>
#include <QLocale>
#include <QRegularExpression>

namespace {

// Calls line(text) for each line of the file, read a line at a time; a line longer than any the
// classic files write is cut at that length.
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
        if (!line(QString::fromUtf8(buffer, static_cast<qsizetype>(length)))) {
            return false;
        }
    }
}

// The order of day, month and year in the default locale's short date.
QString DateOrder() {
    const QString format = QLocale().dateFormat(QLocale::ShortFormat);
    QString order;
    for (const QChar c : format) {
        const QChar lower = c.toLower();
        if ((lower == QLatin1Char('d') || lower == QLatin1Char('m') || lower == QLatin1Char('y')) &&
            !order.contains(lower)) {
            order += lower;
        }
    }
    return order.size() == 3 ? order : QStringLiteral("dmy");
}

} // namespace

QDateTime ParseHostDateTime(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral(
        R"(^\s*(\d{1,4})\D(\d{1,2})\D(\d{1,4})\D+(\d{1,2}):(\d{2}):(\d{2})(?:[.,]\d+)?\s*([AaPp]\.?[Mm]\.?)?)"));
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch()) {
        return {};
    }
    int parts[3] = {m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt()};
    int day = 0;
    int month = 0;
    int year = 0;
    if (m.captured(1).size() == 4) {
        year = parts[0];
        month = parts[1];
        day = parts[2];
    } else {
        const QString order = DateOrder();
        for (int i = 0; i < 3; ++i) {
            const QChar c = order[i];
            (c == QLatin1Char('d') ? day : c == QLatin1Char('m') ? month : year) = parts[i];
        }
        if (year < 100) {
            year += 2000;
        }
    }
    int hour = m.captured(4).toInt();
    const QString half = m.captured(7).toLower();
    if (half.startsWith(QLatin1Char('p')) && hour < 12) {
        hour += 12;
    } else if (half.startsWith(QLatin1Char('a')) && hour == 12) {
        hour = 0;
    }
    const QDate date(year, month, day);
    const QTime time(hour, m.captured(5).toInt(), m.captured(6).toInt());
    if (!date.isValid() || !time.isValid()) {
        return {};
    }
    return QDateTime(date, time);
}

bool ReadDailySummary(const QString& path, size_t batch, const TakeDays& take) {
    std::vector<DayRow> rows;
    DayRow row;
    int found = 0;
    auto finish = [&] {
        if (row.date.isValid() && found > 0) {
            rows.push_back(row);
        }
        row = DayRow();
        found = 0;
        return rows.size() < batch || (take(rows) && (rows.clear(), true));
    };
    const bool read = EachLine(path, [&](const QString& line) {
        const qsizetype equals = line.indexOf(QStringLiteral(" = "));
        if (equals < 0) {
            const QDateTime header = ParseHostDateTime(line);
            if (!header.isValid()) {
                return true;
            }
            const bool more = finish();
            row.date = header.date();
            row.figures.fill(Absent());
            return more;
        }
        const QString key = line.left(equals).trimmed();
        for (int i = 0; i < DayRow::kFigures; ++i) {
            if (key == QLatin1String(kDayColumns[i])) {
                row.figures[static_cast<size_t>(i)] = FigureValue(line.mid(equals + 3));
                ++found;
            }
        }
        return true;
    });
    return read && finish() && (rows.empty() || take(rows));
}

bool ReadSocLog(const QString& path, size_t batch, const TakeCycles& take) {
    std::vector<CycleRow> rows;
    rows.reserve(batch);
    const bool read = EachLine(path, [&](const QString& line) {
        const QString trimmed = line.trimmed();
        const qsizetype blank = trimmed.lastIndexOf(QLatin1Char(' '));
        const QDateTime time = ParseHostDateTime(trimmed);
        const double percent = FigureValue(trimmed.mid(blank + 1));
        if (blank < 0 || !time.isValid() || std::isnan(percent)) {
            return true;
        }
        CycleRow row;
        row.timeMs = time.toMSecsSinceEpoch();
        row.set(0, percent);
        rows.push_back(row);
        if (rows.size() < batch) {
            return true;
        }
        const bool more = take(rows);
        rows.clear();
        return more;
    });
    return read && (rows.empty() || take(rows));
}

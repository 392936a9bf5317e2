#include "history/classic_import.h"

#include <QFile>
#include <QLocale>
#include <QRegularExpression>

namespace {

QStringList Lines(const QString& path) {
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (QString& line : lines) {
        if (line.endsWith(QLatin1Char('\r'))) {
            line.chop(1);
        }
    }
    return lines;
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

std::vector<DayRow> ReadDailySummary(const QString& path) {
    std::vector<DayRow> rows;
    DayRow row;
    int found = 0;
    auto finish = [&] {
        if (row.date.isValid() && found > 0) {
            rows.push_back(row);
        }
        row = DayRow();
        found = 0;
    };
    for (const QString& line : Lines(path)) {
        const qsizetype equals = line.indexOf(QStringLiteral(" = "));
        if (equals < 0) {
            const QDateTime header = ParseHostDateTime(line);
            if (header.isValid()) {
                finish();
                row.date = header.date();
                row.figures.fill(Absent());
            }
            continue;
        }
        const QString key = line.left(equals).trimmed();
        for (int i = 0; i < DayRow::kFigures; ++i) {
            if (key == QLatin1String(kDayColumns[i])) {
                row.figures[static_cast<size_t>(i)] = FigureValue(line.mid(equals + 3));
                ++found;
            }
        }
    }
    finish();
    return rows;
}

std::vector<CycleRow> ReadSocLog(const QString& path) {
    std::vector<CycleRow> rows;
    for (const QString& line : Lines(path)) {
        const qsizetype blank = line.trimmed().lastIndexOf(QLatin1Char(' '));
        const QDateTime time = ParseHostDateTime(line);
        const double percent = FigureValue(line.trimmed().mid(blank + 1));
        if (blank < 0 || !time.isValid() || std::isnan(percent)) {
            continue;
        }
        CycleRow row;
        row.timeMs = time.toMSecsSinceEpoch();
        row.figures.fill(Absent());
        row.figures[0] = percent;
        rows.push_back(row);
    }
    return rows;
}

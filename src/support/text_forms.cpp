#include "support/text_forms.h"

#include <QLocale>

#include <cctype>
#include <charconv>
#include <cmath>

namespace {

// The C locale (a service started without LANG) has "9 Dec 2026" for its short date, blanks
// inside the date column of every log: the ISO date and a 24-hour time stand in for it.
bool IsCLocale(const QLocale& loc) {
    return loc.language() == QLocale::C;
}

// A time format without its time-zone field, wherever the locale puts it ("t HH:mm:ss",
// "HH:mm:ss (t)"): quoted literals stay, the field and its brackets go.
QString WithoutTimeZone(const QString& format) {
    QString out;
    bool quoted = false;
    for (int i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
            out += c;
            continue;
        }
        if (!quoted && c == QLatin1Char('t')) {
            while (i + 1 < format.size() && format[i + 1] == QLatin1Char('t')) {
                ++i;
            }
            if (out.endsWith(QLatin1Char('(')) && i + 1 < format.size() &&
                format[i + 1] == QLatin1Char(')')) {
                out.chop(1);
                ++i;
            }
            continue;
        }
        out += c;
    }
    return out.simplified();
}

// The default locale's date and time formats, worked out again only when that locale changes:
// a poll cycle writes the time several times.
struct HostFormats {
    QLocale locale;
    bool isC = false;
    QString date;
    QString time;
    bool timeHasMs = false;
    // The last texts made: a cycle writes the same second over and over.
    QDate lastDate;
    QString lastDateText;
    QTime lastTime;
    QString lastTimeText;
};

HostFormats& CurrentFormats() {
    static HostFormats formats;
    static bool valid = false;
    const QLocale loc;
    if (!valid || !(formats.locale == loc)) {
        formats.locale = loc;
        formats.isC = IsCLocale(loc);
        formats.date = loc.dateFormat(QLocale::ShortFormat);
        // Qt's long time carries the time zone; the program's times never did.
        formats.time = WithoutTimeZone(loc.timeFormat(QLocale::LongFormat));
        formats.timeHasMs = formats.time.contains(QLatin1Char('z'));
        formats.lastDate = QDate();
        formats.lastTime = QTime();
        valid = true;
    }
    return formats;
}

QString TwentyFourHour(QTime time) {
    return time.toString(QStringLiteral("HH:mm:ss"));
}

} // namespace

QString HostDate(const QDateTime& t) {
    HostFormats& f = CurrentFormats();
    const QDate date = t.date();
    if (date != f.lastDate || !date.isValid()) {
        f.lastDate = date;
        f.lastDateText = f.isC ? date.toString(Qt::ISODate) : f.locale.toString(date, f.date);
    }
    return f.lastDateText;
}

QString HostTime(const QDateTime& t) {
    HostFormats& f = CurrentFormats();
    QTime time = t.time();
    if (!f.timeHasMs && time.isValid()) {
        time = QTime(time.hour(), time.minute(), time.second());
    }
    if (time != f.lastTime || !time.isValid()) {
        f.lastTime = time;
        f.lastTimeText = f.isC && time.isValid() ? TwentyFourHour(time) : f.locale.toString(time, f.time);
    }
    return f.lastTimeText;
}

QString HostNow(const QDateTime& t) {
    return HostDate(t) + QLatin1Char(' ') + HostTime(t);
}

QString DecimalText(double v) {
    if (v == 0.0) {
        return QStringLiteral("0"); // never "-0"
    }
    // A whole number below 1E+15 prints as its digits; counters are, and asprintf is slow.
    if (std::fabs(v) < 1e15 && std::trunc(v) == v) {
        return QString::number(static_cast<qint64>(v));
    }
    // What printf's "%.15G" gives, made by to_chars: asprintf was a fifth of a cycle's
    // instructions where the counters are that large.
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, v, std::chars_format::general, 15);
    if (error != std::errc()) {
        return QString::asprintf("%.15G", v);
    }
    for (char* c = text; c != end; ++c) {
        *c = static_cast<char>(std::toupper(static_cast<unsigned char>(*c))); // E, INF, NAN
    }
    return QString::fromLatin1(text, static_cast<int>(end - text));
}

QString IntText(qint64 v) {
    return QString::number(v);
}

QString GroupedPattern(double v, const QString& unit) {
    QLocale loc;
    loc.setNumberOptions(loc.numberOptions() & ~QLocale::OmitGroupSeparator);
    const double whole = std::round(v);
    QString digits;
    if (std::fabs(whole) < 9.2e18) {
        digits = loc.toString(static_cast<qlonglong>(whole));
    } else {
        digits = loc.toString(whole, 'f', 0);
    }
    return digits + unit;
}

namespace {

bool IsDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Length of the number at the start of s (from pos), or 0 when there is none.
int NumberPrefixLength(const QString& s, int pos) {
    int i = pos;
    const int n = s.size();
    if (i < n && (s[i] == QLatin1Char('+') || s[i] == QLatin1Char('-'))) {
        ++i;
    }
    int digits = 0;
    while (i < n && IsDigit(s[i])) {
        ++i;
        ++digits;
    }
    if (i < n && s[i] == QLatin1Char('.')) {
        int j = i + 1;
        int frac = 0;
        while (j < n && IsDigit(s[j])) {
            ++j;
            ++frac;
        }
        if (digits + frac > 0) {
            i = j;
            digits += frac;
        }
    }
    if (digits == 0) {
        return 0;
    }
    if (i < n && (s[i] == QLatin1Char('E') || s[i] == QLatin1Char('e'))) {
        int j = i + 1;
        if (j < n && (s[j] == QLatin1Char('+') || s[j] == QLatin1Char('-'))) {
            ++j;
        }
        int expDigits = 0;
        while (j < n && IsDigit(s[j])) {
            ++j;
            ++expDigits;
        }
        if (expDigits > 0) {
            i = j;
        }
    }
    return i - pos;
}

// A number's text as NumberPrefixLength found it, read the way QLocale::c() reads it but without
// the locale machinery, which was most of a poll cycle's work once. Anything std::from_chars
// does not take whole (out of range, too long) is left to QLocale.
double CNumber(QStringView text, bool* ok) {
    char digits[64];
    const qsizetype n = text.size();
    if (n < static_cast<qsizetype>(sizeof digits)) {
        for (qsizetype i = 0; i < n; ++i) {
            digits[i] = static_cast<char>(text[i].unicode()); // ASCII: checked by the caller
        }
        // from_chars takes no plus sign.
        const char* first = n > 0 && digits[0] == '+' ? digits + 1 : digits;
        double value = 0;
        const auto [end, error] = std::from_chars(first, digits + n, value);
        if (error == std::errc() && end == digits + n) {
            *ok = true;
            return value;
        }
    }
    return QLocale::c().toDouble(text, ok);
}

} // namespace

double LeadingNumber(const QString& text) {
    int pos = 0;
    while (pos < text.size() && (text[pos] == QLatin1Char(' ') || text[pos] == QLatin1Char('\t'))) {
        ++pos;
    }
    const int len = NumberPrefixLength(text, pos);
    if (len == 0) {
        return 0.0;
    }
    bool ok = false;
    const double v = CNumber(QStringView(text).mid(pos, len), &ok);
    return ok ? v : 0.0;
}

bool ParseNumber(const QString& text, double* value) {
    const QString t = text.trimmed();
    if (t.isEmpty() || NumberPrefixLength(t, 0) != t.size()) {
        return false;
    }
    bool ok = false;
    const double v = CNumber(t, &ok);
    if (!ok || !std::isfinite(v)) {
        return false;
    }
    *value = v;
    return true;
}

double RoundHalfEven(double v) {
    return std::nearbyint(v);
}

QStringList TextLines(const QByteArray& bytes, bool* lastEnded) {
    // Split by hand, as the regular expression library alone is half a megabyte of resident memory.
    QStringList result;
    qsizetype start = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' || bytes[i] == '\n') {
            result.append(QString::fromUtf8(bytes.mid(start, i - start)));
            if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
                ++i;
            }
            start = i + 1;
        }
    }
    const bool unended = start < bytes.size();
    if (lastEnded != nullptr) {
        *lastEnded = !unended;
    } else if (unended) {
        result.append(QString::fromUtf8(bytes.mid(start)));
    }
    return result;
}

bool ConvertWhole(const QString& text, qint64 min, qint64 max, qint64* value) {
    double v = 0;
    if (!ParseNumber(text, &v)) {
        bool ok = false;
        v = QLocale().toDouble(text.trimmed(), &ok);
        if (!ok) {
            return false;
        }
    }
    const double r = RoundHalfEven(v);
    if (r < static_cast<double>(min) || r > static_cast<double>(max)) {
        return false;
    }
    *value = static_cast<qint64>(r);
    return true;
}

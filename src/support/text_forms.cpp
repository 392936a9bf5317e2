#include "support/text_forms.h"

#include <QLocale>
#include <cmath>

QString HostDate(const QDateTime& t) {
    const QLocale loc;
    return loc.toString(t.date(), loc.dateFormat(QLocale::ShortFormat));
}

QString HostTime(const QDateTime& t) {
    const QLocale loc;
    QString format = loc.timeFormat(QLocale::LongFormat);
    // Qt's long time carries the time zone (" t"); the program's times never did.
    format.remove(QStringLiteral(" t"));
    return loc.toString(t.time(), format.trimmed());
}

QString HostNow(const QDateTime& t) {
    return HostDate(t) + QLatin1Char(' ') + HostTime(t);
}

QString DecimalText(double v) {
    if (v == 0.0) {
        return QStringLiteral("0"); // never "-0"
    }
    return QString::asprintf("%.15G", v);
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
    const double v = QLocale::c().toDouble(QStringView(text).mid(pos, len), &ok);
    return ok ? v : 0.0;
}

bool ParseNumber(const QString& text, double* value) {
    const QString t = text.trimmed();
    if (t.isEmpty() || NumberPrefixLength(t, 0) != t.size()) {
        return false;
    }
    bool ok = false;
    const double v = QLocale::c().toDouble(t, &ok);
    if (!ok || !std::isfinite(v)) {
        return false;
    }
    *value = v;
    return true;
}

double RoundHalfEven(double v) {
    return std::nearbyint(v);
}

#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

// The host's regional text forms and the number forms shared by every file and field.

// Short date of the default locale.
QString HostDate(const QDateTime& t);
// Long time of the default locale, without its time-zone part.
QString HostTime(const QDateTime& t);
// Short date, a blank, long time.
QString HostNow(const QDateTime& t);

// Shortest general form with at most 15 significant digits, exponent form from 1E+15.
QString DecimalText(double v);
// Plain decimal integer, "-" when negative, no grouping.
QString IntText(qint64 v);
// Nearest whole number grouped with the locale's separator, then the unit text ("5,325 kWh").
QString GroupedPattern(double v, const QString& unit);

// Value of the longest prefix that reads as a decimal number after leading blanks; 0 when none.
double LeadingNumber(const QString& text);

// A whole text that reads as a decimal number (surrounding blanks allowed); false otherwise.
bool ParseNumber(const QString& text, double* value);

// Nearest whole number, halves to the even neighbour.
double RoundHalfEven(double v);

// The lines of a text, ended by CR LF, LF or CR alone (as some editors save). An unended last
// line is left out when *lastEnded is given, which then says whether there was one.
QStringList TextLines(const QByteArray& bytes, bool* lastEnded = nullptr);

// CR LF, the line end of every file and of the status pane.
inline const QString& CrLf() {
    static const QString s = QStringLiteral("\r\n");
    return s;
}

// A text converted as the program always did: nearest whole number, halves to even, within
// [min, max]; false for a text that is not a number or out of range.
bool ConvertWhole(const QString& text, qint64 min, qint64 max, qint64* value);

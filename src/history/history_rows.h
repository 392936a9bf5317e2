#pragma once

#include <QDate>
#include <QString>
#include <QtGlobal>

#include <array>
#include <cmath>

struct Form;

// One completed poll cycle. A figure the cycle did not have (an imported state-of-charge line
// carries only the percentage) is NaN and is stored as NULL.
struct CycleRow {
    static constexpr int kFigures = 10;
    qint64 timeMs = 0; // milliseconds since the epoch
    std::array<double, kFigures> figures{};
};

// One day, as the midnight save closes it.
struct DayRow {
    static constexpr int kFigures = 5;
    QDate date; // the day that ended
    std::array<double, kFigures> figures{};
};

// Column names, in the order of the figures; they are also the CSV headers.
extern const char* const kCycleColumns[CycleRow::kFigures];
extern const char* const kDayColumns[DayRow::kFigures];

// The form's figures for a cycle at timeMs, and for the day that ended.
CycleRow CycleFromForm(const Form& form, qint64 timeMs);
DayRow DayFromForm(const Form& form, const QDate& day);

// A figure's text as the files hold it ("" when absent), and back.
double FigureValue(const QString& text);
QString FigureText(double value);

inline double Absent() {
    return std::nan("");
}

#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

struct Form;
class Shell;

// Under the service the status lines go at debug priority and are not kept; this is what the
// journal keeps instead: one line at start, then one an interval (an hour unless
// MODBUSCLIENT_SUMMARY_SECONDS says otherwise), with what a person checks on a quiet service.
class HourlySummary : public QObject {
    Q_OBJECT
public:
    HourlySummary(Shell& shell, std::function<void(const QString&)> out, int intervalSeconds);

    // The interval from MODBUSCLIENT_SUMMARY_SECONDS when it holds a whole number from 1 to 86400,
    // else 3600.
    static int IntervalFromEnvironment();

    QString startLine() const;
    // The line for the time since the last one; its counts start again from zero.
    QString takeLine();

private:
    Shell& shell_;
    std::function<void(const QString&)> out_;
    int intervalSeconds_;
    QTimer timer_;
    int cycles_ = 0;
    int errorsBefore_ = 0;
};

// "state of charge 57 %; today PV charge 1200, ..." from the form's figures, as Battery.txt
// counts them.
QString FiguresSummary(const Form& form);

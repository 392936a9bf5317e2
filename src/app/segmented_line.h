#pragma once

#include <QList>
#include <QPointF>

#include <vector>

class QAbstractAxis;
class QChart;
class QLineSeries;

// One figure of a chart drawn as a line that breaks where the points are further apart than the
// gap: hours without a cycle show as nothing, not as a ramp. Qt Charts draws no break at a NaN, so
// each stretch is a series of its own; the first carries the legend, the others its pen.
class SegmentedLine {
public:
    SegmentedLine(QChart* chart, const QString& name, QAbstractAxis* x, QAbstractAxis* y);

    // The points, oldest first; a step longer than gapMs starts a new stretch.
    void replace(const QList<QPointF>& points, double gapMs);
    void append(const QPointF& point, double gapMs);

    QLineSeries* first() const { return segments_.front(); }
    const std::vector<QLineSeries*>& segments() const { return segments_; }

private:
    QLineSeries* startSegment();

    QChart* chart_;
    QAbstractAxis* x_;
    QAbstractAxis* y_;
    std::vector<QLineSeries*> segments_;
};

// The gap of a day's chart: three times the median step between its rows, at least five minutes,
// so that a few missed polls stay a line.
double GapMs(const std::vector<qint64>& timesMs);

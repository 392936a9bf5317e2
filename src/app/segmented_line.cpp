#include "app/segmented_line.h"

#include <QChart>
#include <QLegendMarker>
#include <QLineSeries>

#include <algorithm>

namespace {
constexpr double kLeastGapMs = 5 * 60 * 1000.0;
} // namespace

SegmentedLine::SegmentedLine(QChart* chart, const QString& name, QAbstractAxis* x, QAbstractAxis* y)
    : chart_(chart), x_(x), y_(y) {
    auto* series = new QLineSeries;
    series->setName(name);
    chart_->addSeries(series);
    series->attachAxis(x_);
    series->attachAxis(y_);
    segments_.push_back(series);
}

QLineSeries* SegmentedLine::startSegment() {
    auto* series = new QLineSeries;
    series->setName(first()->name());
    chart_->addSeries(series);
    series->attachAxis(x_);
    series->attachAxis(y_);
    series->setPen(first()->pen());
    for (QLegendMarker* marker : chart_->legend()->markers(series)) {
        marker->setVisible(false);
    }
    segments_.push_back(series);
    return series;
}

void SegmentedLine::replace(const QList<QPointF>& points, double gapMs) {
    while (segments_.size() > 1) {
        chart_->removeSeries(segments_.back());
        delete segments_.back();
        segments_.pop_back();
    }
    qsizetype start = 0;
    QLineSeries* series = first();
    for (qsizetype i = 1; i <= points.size(); ++i) {
        if (i == points.size() || points[i].x() - points[i - 1].x() > gapMs) {
            series->replace(points.mid(start, i - start));
            series = i < points.size() ? startSegment() : series;
            start = i;
        }
    }
    if (points.isEmpty()) {
        first()->clear();
    }
}

void SegmentedLine::append(const QPointF& point, double gapMs) {
    QLineSeries* last = segments_.back();
    if (last->count() > 0 && point.x() - last->at(last->count() - 1).x() > gapMs) {
        last = startSegment();
    }
    last->append(point);
}

double GapMs(const std::vector<qint64>& timesMs) {
    std::vector<qint64> steps;
    for (size_t i = 1; i < timesMs.size(); ++i) {
        steps.push_back(timesMs[i] - timesMs[i - 1]);
    }
    if (steps.empty()) {
        return kLeastGapMs;
    }
    const auto middle = steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2);
    std::nth_element(steps.begin(), middle, steps.end());
    return std::max(kLeastGapMs, 3.0 * static_cast<double>(*middle));
}

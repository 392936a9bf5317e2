#pragma once

#include "controls/price_plan.h"

#include <QDate>
#include <QObject>

class QAreaSeries;
class QChart;
class QDateTimeAxis;
class QLineSeries;
class QValueAxis;

// The prices and the charge plan on the history's day chart: the price per kWh as a step line on
// an axis of its own at the right, the planned slots and the slots that ran shaded behind the
// figures. Only what falls on the shown day is drawn; without prices for it nothing is.
class PriceChart : public QObject {
    Q_OBJECT
public:
    // Adds its series to the chart; built before the figures' series, so the shading lies behind them.
    PriceChart(QChart* chart, QDateTimeAxis* time, QObject* parent = nullptr);

    // Draws the view again when it differs from the one shown.
    void setPlan(const PlanView& view);
    void showDay(const QDate& day);

    QLineSeries* prices() const { return prices_; }
    QValueAxis* priceAxis() const { return priceAxis_; }
    // The outlines of the shaded slots: four points a slot, from the bottom to the top and back.
    QLineSeries* plannedOutline() const { return plannedEdge_; }
    QLineSeries* ranOutline() const { return ranEdge_; }

private:
    void draw();

    PlanView view_;
    QDate day_;
    QLineSeries* prices_ = nullptr;
    QValueAxis* priceAxis_ = nullptr;
    QLineSeries* plannedEdge_ = nullptr;
    QLineSeries* ranEdge_ = nullptr;
    QAreaSeries* planned_ = nullptr;
    QAreaSeries* ran_ = nullptr;
};

#include "app/price_chart.h"

#include <QAreaSeries>
#include <QChart>
#include <QDateTimeAxis>
#include <QLineSeries>
#include <QValueAxis>

#include <algorithm>
#include <vector>

namespace {
// A stretch of the shown day in ms since the epoch, with the price drawn over it.
struct Span {
    qint64 from;
    qint64 to;
    double price;
};

// [start, end) cut to the day [dayFrom, dayTo), kept when some of it falls on the day.
void Clip(const QDateTime& start, const QDateTime& end, qint64 dayFrom, qint64 dayTo, double price,
          std::vector<Span>* spans) {
    const qint64 from = std::max(start.toMSecsSinceEpoch(), dayFrom);
    const qint64 to = std::min(end.toMSecsSinceEpoch(), dayTo);
    if (from < to) {
        spans->push_back({from, to, price});
    }
}

// The slots as the outline of bars that fill the plot's height; the planner's order is not
// relied on, since an outline out of order would cross itself.
QList<QPointF> Outline(std::vector<Span> spans) {
    std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.from < b.from; });
    QList<QPointF> points;
    for (const Span& s : spans) {
        const auto from = static_cast<double>(s.from);
        const auto to = static_cast<double>(s.to);
        points << QPointF(from, 0) << QPointF(from, 1) << QPointF(to, 1) << QPointF(to, 0);
    }
    return points;
}

bool SamePlan(const PlanView& a, const PlanView& b) {
    const auto samePrice = [](const PriceSlot& x, const PriceSlot& y) {
        return x.start == y.start && x.end == y.end && x.price == y.price;
    };
    const auto sameSlot = [](const PlanSlot& x, const PlanSlot& y) {
        return x.start == y.start && x.end == y.end && x.state == y.state;
    };
    return a.made == b.made &&
           std::equal(a.prices.begin(), a.prices.end(), b.prices.begin(), b.prices.end(), samePrice) &&
           std::equal(a.slots.begin(), a.slots.end(), b.slots.begin(), b.slots.end(), sameSlot);
}

QAreaSeries* Shading(const char* name, const QBrush& brush, QLineSeries* edge) {
    auto* area = new QAreaSeries(edge);
    edge->setParent(area); // the area does not own its outline; the chart owns the area
    area->setName(QString::fromLatin1(name));
    area->setBrush(brush);
    area->setPen(Qt::NoPen);
    area->setVisible(false);
    return area;
}
} // namespace

PriceChart::PriceChart(QChart* chart, QDateTimeAxis* time, QObject* parent) : QObject(parent) {
    plannedEdge_ = new QLineSeries;
    ranEdge_ = new QLineSeries;
    // Hatched what is still to come, filled what ran: the green of the grid charge's line.
    planned_ = Shading("Planned charge", QBrush(QColor(70, 110, 200, 150), Qt::BDiagPattern), plannedEdge_);
    ran_ = Shading("Charged", QColor(40, 160, 60, 70), ranEdge_);
    // The shading's own axis, hidden: 0 is the plot's bottom, 1 its top.
    auto* height = new QValueAxis;
    height->setRange(0, 1);
    height->setVisible(false);
    chart->addAxis(height, Qt::AlignLeft);

    prices_ = new QLineSeries;
    prices_->setName(QStringLiteral("Price"));
    QPen pen(QColor(40, 40, 40));
    pen.setWidth(2);
    prices_->setPen(pen);
    prices_->setVisible(false);
    priceAxis_ = new QValueAxis;
    priceAxis_->setTitleText(QStringLiteral("price/kWh"));
    priceAxis_->setLabelFormat(QStringLiteral("%.2f"));
    priceAxis_->setVisible(false);
    chart->addAxis(priceAxis_, Qt::AlignRight);

    for (QAbstractSeries* series :
         {static_cast<QAbstractSeries*>(planned_), static_cast<QAbstractSeries*>(ran_),
          static_cast<QAbstractSeries*>(prices_)}) {
        chart->addSeries(series);
        series->attachAxis(time);
        series->attachAxis(series == prices_ ? priceAxis_ : height);
    }
}

void PriceChart::setPlan(const PlanView& view) {
    if (SamePlan(view, view_)) {
        return;
    }
    view_ = view;
    draw();
}

void PriceChart::showDay(const QDate& day) {
    day_ = day;
    draw();
}

void PriceChart::draw() {
    // The day's bounds in local time: 23 or 25 hours on the days the clocks change.
    const qint64 dayFrom = QDateTime(day_, QTime(0, 0)).toMSecsSinceEpoch();
    const qint64 dayTo = QDateTime(day_.addDays(1), QTime(0, 0)).toMSecsSinceEpoch();
    std::vector<Span> prices;
    for (const PriceSlot& slot : view_.prices) {
        Clip(slot.start, slot.end, dayFrom, dayTo, slot.price, &prices);
    }
    std::sort(prices.begin(), prices.end(), [](const Span& a, const Span& b) { return a.from < b.from; });
    QList<QPointF> steps;
    double low = 0;
    double high = 0;
    for (const Span& s : prices) {
        // One step a slot: level from its start to its end, the rise or fall at the next start.
        steps << QPointF(static_cast<double>(s.from), s.price) << QPointF(static_cast<double>(s.to), s.price);
        low = std::min(low, s.price);
        high = std::max(high, s.price);
    }
    prices_->replace(steps);
    const bool shown = !steps.isEmpty();
    prices_->setVisible(shown);
    priceAxis_->setVisible(shown);
    if (shown) {
        const double room = high > low ? (high - low) * 0.1 : 1;
        priceAxis_->setRange(low < 0 ? low - room : 0, high + room);
        priceAxis_->applyNiceNumbers();
    }

    std::vector<Span> planned;
    std::vector<Span> ran;
    for (const PlanSlot& slot : view_.slots) {
        Clip(slot.start, slot.end, dayFrom, dayTo, slot.price,
             slot.state == PlanSlot::Planned ? &planned : &ran);
    }
    plannedEdge_->replace(Outline(planned));
    ranEdge_->replace(Outline(ran));
    planned_->setVisible(!planned.empty());
    ran_->setVisible(!ran.empty());
}

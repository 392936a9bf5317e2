#include "app/history_window.h"
#include "app/price_chart.h"
#include "common/test_support.h"

#include <QLineSeries>
#include <QValueAxis>

namespace {
// Slots of `minutes` from local midnight of `day` to that of the day after `days` days.
QVector<PriceSlot> Prices(const QDate& day, int days, qint64 minutes) {
    QVector<PriceSlot> prices;
    for (QDateTime t(day, QTime(0, 0)); t < QDateTime(day.addDays(days), QTime(0, 0));
         t = t.addSecs(minutes * 60)) {
        prices.append({t, t.addSecs(minutes * 60), 0.1 + 0.01 * static_cast<double>(prices.size() % 24)});
    }
    return prices;
}

PlanSlot Slot(const QDate& day, int hour, int minute, PlanSlot::State state) {
    const QDateTime start(day, QTime(hour, minute));
    return {start, start.addSecs(900), 0.1, state};
}

qint64 Ms(const QDate& day, int hour) {
    return QDateTime(day, QTime(hour, 0)).toMSecsSinceEpoch();
}

// Berlin's clocks, for the days of 23 and 25 hours.
class PriceChartTest : public InTempDir {
    ScopedTimeZone berlin_{"Europe/Berlin"};
};
} // namespace

TEST_F(PriceChartTest, DrawsTheShownDaysPricesAndSlotsOnly) {
    const QDate day(2026, 12, 10);
    HistoryWindow window(QStringLiteral("history.sqlite"), day);
    PriceChart* chart = window.priceChart();
    EXPECT_FALSE(chart->prices()->isVisible() || chart->priceAxis()->isVisible()); // no prices yet

    PlanView view;
    view.prices = Prices(day, 2, 15);
    view.slots = {Slot(day, 2, 0, PlanSlot::Ran), Slot(day, 2, 15, PlanSlot::Running),
                  Slot(day, 3, 0, PlanSlot::Planned), Slot(day.addDays(1), 1, 0, PlanSlot::Planned),
                  Slot(day.addDays(1), 1, 15, PlanSlot::Planned)};
    window.setPlan(view);
    EXPECT_TRUE(chart->prices()->isVisible() && chart->priceAxis()->isVisible());
    // A step a slot, level over the slot: 96 quarter hours give 192 points.
    ASSERT_EQ(chart->prices()->count(), 192);
    EXPECT_EQ(chart->prices()->at(1), QPointF(Ms(day, 0) + 900000, 0.1));
    EXPECT_EQ(chart->prices()->at(191).x(), Ms(day.addDays(1), 0));
    EXPECT_TRUE(chart->priceAxis()->min() <= 0 && chart->priceAxis()->max() >= 0.33);
    EXPECT_EQ(chart->ranOutline()->count(), 2 * 4); // the running slot is shaded with those that ran
    EXPECT_EQ(chart->plannedOutline()->count(), 4);
    // A slot that ran since is shaded so though the plan was not made again.
    view.slots[2].state = PlanSlot::Ran;
    window.setPlan(view);
    EXPECT_EQ(chart->ranOutline()->count(), 3 * 4);
    EXPECT_EQ(chart->plannedOutline()->count(), 0);

    window.nextDay();
    EXPECT_EQ(chart->prices()->count(), 192);
    EXPECT_EQ(chart->plannedOutline()->count(), 2 * 4);
    EXPECT_EQ(chart->ranOutline()->count(), 0);
    window.nextDay();
    EXPECT_FALSE(chart->prices()->isVisible());
}

TEST_F(PriceChartTest, DaysOfTwentyThreeAndTwentyFiveHours) {
    const QDate spring(2026, 3, 29);
    HistoryWindow window(QStringLiteral("history.sqlite"), spring);
    PlanView view;
    // Hourly prices around both changes of the clocks, out of order, and a slot across midnight.
    view.prices = Prices(spring.addDays(-1), 3, 60) + Prices(QDate(2026, 10, 24), 3, 60);
    std::reverse(view.prices.begin(), view.prices.end());
    view.slots = {Slot(spring, 23, 45, PlanSlot::Planned)};
    view.slots[0].end = view.slots[0].end.addSecs(900);
    window.setPlan(view);
    PriceChart* chart = window.priceChart();
    ASSERT_EQ(chart->prices()->count(), 2 * 23);
    EXPECT_EQ(chart->prices()->at(3).x(), Ms(spring, 0) + 2 * 3600000LL); // 01:00 to 03:00 summer time
    EXPECT_EQ(chart->prices()->at(45).x(), Ms(spring, 0) + 23 * 3600000LL);
    ASSERT_EQ(chart->plannedOutline()->count(), 4);
    EXPECT_EQ(chart->plannedOutline()->at(3).x(), Ms(spring.addDays(1), 0));
    window.showDay(QDate(2026, 10, 25));
    EXPECT_EQ(chart->prices()->count(), 2 * 25);
}

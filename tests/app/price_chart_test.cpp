#include "app/history_window.h"
#include "app/main_window.h"
#include "app/price_chart.h"
#include "app/shell.h"
#include "common/test_support.h"
#include "history/history_store.h"
#include "support/clock.h"
#include "support/error_log.h"
#include "support/prompter.h"

#include <QLineSeries>
#include <QPushButton>
#include <QValueAxis>

namespace {

// Berlin's clocks, for the days of 23 and 25 hours.
class PriceChartTest : public InTempDir {
protected:
    // Slots of `minutes` from local midnight of `day` to that of the day after `days` days.
    static QVector<PriceSlot> Prices(const QDate& day, int days, int minutes) {
        QVector<PriceSlot> prices;
        const QDateTime end(day.addDays(days), QTime(0, 0));
        for (QDateTime t(day, QTime(0, 0)); t < end; t = t.addSecs(minutes * 60)) {
            prices.append({t, t.addSecs(minutes * 60), 0.1 + 0.01 * static_cast<double>(prices.size() % 24)});
        }
        return prices;
    }
    static PlanSlot Slot(const QDate& day, int hour, int minute, PlanSlot::State state) {
        const QDateTime start(day, QTime(hour, minute));
        return {start, start.addSecs(900), 0.1, state};
    }

    ScopedTimeZone berlin_{"Europe/Berlin"};
};

} // namespace

TEST_F(PriceChartTest, DrawsTheShownDaysPricesAndSlotsOnly) {
    const QDate day(2026, 12, 10);
    HistoryWindow window(QStringLiteral("history.sqlite"), day);
    PriceChart* chart = window.priceChart();
    EXPECT_FALSE(chart->prices()->isVisible()); // no prices, nothing drawn
    EXPECT_FALSE(chart->priceAxis()->isVisible());

    PlanView view;
    view.prices = Prices(day, 2, 15);
    view.slots = {Slot(day, 2, 0, PlanSlot::Ran), Slot(day, 2, 15, PlanSlot::Running),
                  Slot(day, 3, 0, PlanSlot::Planned), Slot(day.addDays(1), 1, 0, PlanSlot::Planned),
                  Slot(day.addDays(1), 1, 15, PlanSlot::Planned)};
    window.setPlan(view);
    ASSERT_TRUE(chart->prices()->isVisible());
    EXPECT_TRUE(chart->priceAxis()->isVisible());
    // A step a slot: level over the slot, so 96 quarter hours give 192 points.
    ASSERT_EQ(chart->prices()->count(), 192);
    EXPECT_EQ(chart->prices()->at(0), QPointF(QDateTime(day, QTime(0, 0)).toMSecsSinceEpoch(), 0.1));
    EXPECT_EQ(chart->prices()->at(1), QPointF(QDateTime(day, QTime(0, 15)).toMSecsSinceEpoch(), 0.1));
    EXPECT_EQ(chart->prices()->at(191).x(), QDateTime(day.addDays(1), QTime(0, 0)).toMSecsSinceEpoch());
    EXPECT_LE(chart->priceAxis()->min(), 0.0);
    EXPECT_GE(chart->priceAxis()->max(), 0.33);
    EXPECT_EQ(chart->ranOutline()->count(), 2 * 4); // the running slot is shaded with those that ran
    EXPECT_EQ(chart->plannedOutline()->count(), 4);

    // A slot that ran since is shaded as such though the plan was not made again.
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
    EXPECT_EQ(chart->plannedOutline()->count(), 0);
}

TEST_F(PriceChartTest, DaysOfTwentyThreeAndTwentyFiveHours) {
    const QDate spring(2026, 3, 29);
    HistoryWindow window(QStringLiteral("history.sqlite"), spring);
    PlanView view;
    // Hourly prices from the day before to the day after both changes of the clocks, unordered,
    // and a slot across midnight drawn up to midnight only.
    view.prices = Prices(spring.addDays(-1), 3, 60) + Prices(QDate(2026, 10, 24), 3, 60);
    std::reverse(view.prices.begin(), view.prices.end());
    const QDateTime lateSlot(spring, QTime(23, 45));
    view.slots = {{lateSlot, lateSlot.addSecs(1800), 0.1, PlanSlot::Planned}};
    window.setPlan(view);
    PriceChart* chart = window.priceChart();
    ASSERT_EQ(chart->prices()->count(), 2 * 23);
    const qint64 start = QDateTime(spring, QTime(0, 0)).toMSecsSinceEpoch();
    EXPECT_EQ(chart->prices()->at(0).x(), start);
    EXPECT_EQ(chart->prices()->at(3).x(), start + 2 * 3600000); // 01:00 to 03:00 summer time
    EXPECT_EQ(chart->prices()->at(45).x(), start + 23 * 3600000);
    ASSERT_EQ(chart->plannedOutline()->count(), 4);
    EXPECT_EQ(chart->plannedOutline()->at(3).x(), start + 23 * 3600000);

    window.showDay(QDate(2026, 10, 25));
    EXPECT_EQ(chart->prices()->count(), 2 * 25);
    EXPECT_EQ(chart->plannedOutline()->count(), 0);
}

TEST_F(PriceChartTest, TheOpenWindowFollowsThePlanAfterEachCycle) {
    SettableClock clock;
    clock.set(QDateTime(QDate(2026, 12, 10), QTime(12, 0)));
    RecordingPrompter prompter;
    ErrorLog log{clock, prompter};
    Shell shell(clock, prompter);
    MainWindow main(shell);
    HistoryStore store(clock, log, {});
    PlanView view;
    view.prices = Prices(QDate(2026, 12, 10), 1, 60);
    OpenHistoryOnClick(main, shell, store, clock, [&view] { return view; });
    main.findChild<QPushButton*>(QStringLiteral("History"))->click();
    auto* window = main.findChild<HistoryWindow*>();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->priceChart()->prices()->count(), 48);
    view.slots = {Slot(QDate(2026, 12, 10), 13, 0, PlanSlot::Planned)};
    Q_EMIT shell.pollCycleCompleted();
    EXPECT_EQ(window->priceChart()->plannedOutline()->count(), 4);
}

#pragma once

#include "app/segmented_line.h"
#include "controls/price_plan.h"
#include "history/history_loader.h"
#include "history/history_rows.h"

#include <QDate>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QBarSeries;
class QChart;
class QDateTimeAxis;
class QLabel;
class QLineSeries;
class QIODevice;
class QTabWidget;
class QValueAxis;
class QBarCategoryAxis;
class Clock;
class HistoryStore;
class MainWindow;
class PriceChart;
class Shell;

// The history: the chosen day's state of charge and four powers over time, the daily counters of
// the last 31 days as bars, and the shown table as CSV. Read from the store's file on a thread of
// its own, a point a minute, while the window says it is loading; new cycles are added as they come.
class HistoryWindow : public QWidget {
    Q_OBJECT
public:
    HistoryWindow(QString path, QDate today, QWidget* parent = nullptr);

    void showDay(const QDate& day);
    void previousDay();
    void nextDay();
    // A completed cycle; the chart takes it at its next refresh.
    void addCycle(const CycleRow& row);
    // Adds the cycles that came since the last refresh; run by a timer, so fast polling redraws
    // the chart a few times a second at most.
    void refreshTick();
    // The day tab's cycles themselves (the rows and header of --export cycles for that day), or
    // the 31 days' rows, as CSV.
    bool exportCsv(const QString& file);
    // Run before an export reads the store, so that rows still gathered are in it.
    std::function<void()> flushStore;
    // The prices and the charge plan, drawn on the day chart; a view like the shown one is not redrawn.
    void setPlan(const PlanView& view);

    QDate shownDay() const { return day_; }
    // A read of the store is under way.
    bool loading() const { return loading_; }
    QLineSeries* series(int figure) const { return lines_[figure]->first(); }
    // The stretches a figure is drawn in: a new one after each gap.
    size_t stretches(int figure) const { return lines_[figure]->segments().size(); }
    QBarSeries* dailyBars() const { return bars_; }
    QTabWidget* tabs() const { return tabs_; }
    PriceChart* priceChart() const { return prices_; }
    QStringList dayLabels() const;

private:
    void load();
    void display(const ChartData& data);
    void loadDays();
    void plot(const CycleRow& row);
    void chooseExportFile();
    bool writeDayCycles(QIODevice& out);

    QString path_;
    HistoryLoader loader_;
    bool loading_ = false;
    QDate day_;
    QDate lastDay_; // the newest day of the bar chart
    std::vector<CycleRow> shownRows_;
    std::vector<DayRow> shownDays_;
    std::vector<CycleRow> pending_;
    // The last cycles handed over, whole, for an export made before the store has them.
    std::vector<CycleRow> recent_;
    double gapMs_ = GapMs({}); // until a day is read: the least gap
    QTimer refresh_;
    QTabWidget* tabs_ = nullptr;
    QLabel* dayLabel_ = nullptr;
    QLabel* message_ = nullptr;
    QChart* dayChart_ = nullptr;
    QDateTimeAxis* timeAxis_ = nullptr;
    QValueAxis* powerAxis_ = nullptr;
    PriceChart* prices_ = nullptr;
    std::unique_ptr<SegmentedLine> lines_[5];
    QBarSeries* bars_ = nullptr;
    QBarCategoryAxis* dayAxis_ = nullptr;
    QValueAxis* energyAxis_ = nullptr;
};

// The charge plan as it stands, for the day chart; asked when the window opens and after each cycle.
using PlanViewSource = std::function<PlanView()>;

// "History" on the main window opens the window (one at a time), fed by the shell's cycles and,
// when there is one, by the charge plan.
void OpenHistoryOnClick(MainWindow& window, Shell& shell, HistoryStore& store, const Clock& clock,
                        const PlanViewSource& plan = {});

#include "app/history_window.h"

#include "app/history.h"
#include "app/main_window.h"
#include "app/price_chart.h"
#include "app/shell.h"
#include "history/csv_export.h"
#include "history/history_store.h"
#include "support/clock.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QPointer>
#include <QPushButton>
#include <QSaveFile>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {
constexpr int kBarDays = 31;
// A point a minute: the store keeps a row a minute for charts.
constexpr qint64 kBucketMs = 60000;
constexpr int kRefreshMs = 1000;
constexpr size_t kMostRecent = 20000;
constexpr size_t kExportBatch = 4096;

const char* const kSeriesNames[5] = {"State of charge %", "PV charge W", "PV discharge W", "Grid charge W",
                                     "Grid discharge W"};
const char* const kBarNames[4] = {"PV charge", "PV discharge", "Grid charge", "Grid discharge"};

QPushButton* Button(const char* name, const char* caption, QWidget* parent) {
    auto* button = new QPushButton(QString::fromLatin1(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAccessibleName(QString::fromLatin1(name));
    return button;
}
} // namespace

HistoryWindow::HistoryWindow(QString path, QDate today, QWidget* parent)
    : QWidget(parent, Qt::Window), path_(std::move(path)), loader_(path_), day_(today), lastDay_(today) {
    setObjectName(QStringLiteral("History"));
    setAccessibleName(QStringLiteral("History"));
    setWindowTitle(QStringLiteral("History"));
    resize(760, 480);

    auto* top = new QVBoxLayout(this);
    auto* bar = new QHBoxLayout;
    QPushButton* previous = Button("PreviousDay", "< Previous day", this);
    connect(previous, &QPushButton::clicked, this, &HistoryWindow::previousDay);
    dayLabel_ = new QLabel(this);
    dayLabel_->setObjectName(QStringLiteral("ShownDay"));
    dayLabel_->setAlignment(Qt::AlignCenter);
    QPushButton* next = Button("NextDay", "Next day >", this);
    connect(next, &QPushButton::clicked, this, &HistoryWindow::nextDay);
    QPushButton* exportButton = Button("ExportCsv", "Export CSV...", this);
    connect(exportButton, &QPushButton::clicked, this, &HistoryWindow::chooseExportFile);
    bar->addWidget(previous);
    bar->addWidget(dayLabel_, 1);
    bar->addWidget(next);
    bar->addSpacing(12);
    bar->addWidget(exportButton);
    top->addLayout(bar);
    message_ = new QLabel(this);
    message_->setObjectName(QStringLiteral("HistoryMessage"));
    message_->hide();
    top->addWidget(message_);

    dayChart_ = new QChart;
    timeAxis_ = new QDateTimeAxis;
    timeAxis_->setFormat(QStringLiteral("HH:mm"));
    timeAxis_->setTickCount(9);
    powerAxis_ = new QValueAxis;
    powerAxis_->setTitleText(QStringLiteral("W"));
    powerAxis_->setLabelFormat(QStringLiteral("%.0f"));
    auto* socAxis = new QValueAxis;
    socAxis->setRange(0, 100);
    socAxis->setTitleText(QStringLiteral("%"));
    socAxis->setLabelFormat(QStringLiteral("%.0f"));
    dayChart_->addAxis(timeAxis_, Qt::AlignBottom);
    dayChart_->addAxis(powerAxis_, Qt::AlignLeft);
    dayChart_->addAxis(socAxis, Qt::AlignRight);
    prices_ = new PriceChart(dayChart_, timeAxis_, this);
    for (int i = 0; i < 5; ++i) {
        lines_[i] =
            std::make_unique<SegmentedLine>(dayChart_, QString::fromLatin1(kSeriesNames[i]), timeAxis_,
                                            i == 0 ? static_cast<QAbstractAxis*>(socAxis) : powerAxis_);
    }
    QPen soc = series(0)->pen();
    soc.setWidth(3);
    series(0)->setPen(soc);

    auto* daysChart = new QChart;
    bars_ = new QBarSeries;
    bars_->setBarWidth(0.9);
    daysChart->addSeries(bars_);
    dayAxis_ = new QBarCategoryAxis;
    energyAxis_ = new QValueAxis;
    energyAxis_->setLabelFormat(QStringLiteral("%.0f"));
    energyAxis_->setTitleText(QStringLiteral("today counters"));
    daysChart->addAxis(dayAxis_, Qt::AlignBottom);
    daysChart->addAxis(energyAxis_, Qt::AlignLeft);
    // After addAxis, which gives the axis the theme's font: 31 two-digit days need a smaller one.
    QFont small = dayAxis_->labelsFont();
    small.setPointSizeF(small.pointSizeF() * 0.7);
    dayAxis_->setLabelsFont(small);
    bars_->attachAxis(dayAxis_);
    bars_->attachAxis(energyAxis_);

    tabs_ = new QTabWidget(this);
    tabs_->setObjectName(QStringLiteral("HistoryTabs"));
    auto* dayView = new QChartView(dayChart_, this);
    dayView->setRenderHint(QPainter::Antialiasing);
    tabs_->addTab(dayView, QStringLiteral("Day"));
    tabs_->addTab(new QChartView(daysChart, this), QStringLiteral("Last 31 days"));
    top->addWidget(tabs_, 1);

    refresh_.setInterval(kRefreshMs);
    connect(&refresh_, &QTimer::timeout, this, &HistoryWindow::refreshTick);
    refresh_.start();
    showDay(today);
}

void HistoryWindow::previousDay() {
    showDay(day_.addDays(-1));
}

void HistoryWindow::nextDay() {
    showDay(day_.addDays(1));
}

void HistoryWindow::showDay(const QDate& day) {
    day_ = day;
    dayLabel_->setText(QLocale().toString(day, QLocale::LongFormat));
    prices_->showDay(day);
    load();
}

void HistoryWindow::load() {
    loading_ = true;
    message_->setText(QStringLiteral("Loading..."));
    message_->show();
    const ChartRequest request{DayStartMs(day_), DayStartMs(day_.addDays(1)), lastDay_.addDays(1 - kBarDays),
                               lastDay_};
    loader_.load(request, this, [this](const ChartData& data) { display(data); });
}

void HistoryWindow::display(const ChartData& data) {
    loading_ = false;
    shownRows_.clear();
    for (const MinuteRow& minute : data.minutes) {
        CycleRow row;
        row.timeMs = minute.minute * kBucketMs;
        for (int i = 0; i < MinuteRow::kRanged; ++i) {
            row.set(i, minute.mean(i));
        }
        shownRows_.push_back(row);
    }
    shownDays_ = data.days;
    const bool ok = data.error.isEmpty();
    message_->setText(QStringLiteral("No history to show yet (%1)").arg(data.error));
    message_->setVisible(!ok);

    std::vector<qint64> times;
    for (const CycleRow& row : shownRows_) {
        times.push_back(row.timeMs);
    }
    gapMs_ = GapMs(times);
    double top = 0;
    for (int i = 0; i < 5; ++i) {
        QList<QPointF> points;
        points.reserve(static_cast<qsizetype>(shownRows_.size()));
        for (const CycleRow& row : shownRows_) {
            const double v = row.figure(i);
            if (!std::isnan(v)) {
                points.append(QPointF(static_cast<double>(row.timeMs), v));
                top = i > 0 ? std::max(top, v) : top;
            }
        }
        lines_[i]->replace(points, gapMs_);
    }
    timeAxis_->setRange(QDateTime(day_, QTime(0, 0)), QDateTime(day_.addDays(1), QTime(0, 0)));
    powerAxis_->setRange(0, top > 0 ? top * 1.1 : 1000);
    powerAxis_->applyNiceNumbers();
    loadDays();
}

void HistoryWindow::loadDays() {
    bars_->clear();
    QStringList categories;
    QBarSet* sets[4];
    for (int i = 0; i < 4; ++i) {
        sets[i] = new QBarSet(QString::fromLatin1(kBarNames[i]));
    }
    double top = 0;
    auto row = shownDays_.cbegin();
    for (QDate d = lastDay_.addDays(1 - kBarDays); d <= lastDay_; d = d.addDays(1)) {
        // The day of the month: 31 dates side by side leave room for no more. The axis takes
        // each text once, so the month before carries an invisible mark.
        categories << QString::number(d.day()) +
                          (d.month() == lastDay_.month() ? QString() : QStringLiteral("\u200B"));
        const bool have = row != shownDays_.cend() && row->date == d;
        for (int i = 0; i < 4; ++i) {
            const double v = have ? row->figures[static_cast<size_t>(i)] : 0.0;
            *sets[i] << (std::isnan(v) ? 0.0 : v);
            top = std::max(top, std::isnan(v) ? 0.0 : v);
        }
        row += have ? 1 : 0;
    }
    for (QBarSet* set : sets) {
        bars_->append(set);
    }
    dayAxis_->setCategories(categories);
    energyAxis_->setRange(0, top > 0 ? top * 1.1 : 1);
    energyAxis_->applyNiceNumbers();
}

QStringList HistoryWindow::dayLabels() const {
    return dayAxis_->categories();
}

void HistoryWindow::addCycle(const CycleRow& row) {
    pending_.push_back(row);
    recent_.push_back(row);
    // The store has them soon after, and an export has it write first: a few thousand do.
    if (recent_.size() > 2 * kMostRecent) {
        recent_.erase(recent_.begin(), recent_.end() - static_cast<std::ptrdiff_t>(kMostRecent));
    }
}

void HistoryWindow::refreshTick() {
    const qint64 from = DayStartMs(day_);
    const qint64 to = DayStartMs(day_.addDays(1));
    for (const CycleRow& row : pending_) {
        if (row.timeMs < from || row.timeMs >= to) {
            continue;
        }
        // Drawn at the same density as the stored day.
        if (!shownRows_.empty() && row.timeMs - shownRows_.back().timeMs < kBucketMs) {
            continue;
        }
        shownRows_.push_back(row);
        plot(row);
    }
    pending_.clear();
}

void HistoryWindow::plot(const CycleRow& row) {
    for (int i = 0; i < 5; ++i) {
        const double v = row.figure(i);
        if (!std::isnan(v)) {
            lines_[i]->append(QPointF(static_cast<double>(row.timeMs), v), gapMs_);
            if (i > 0 && v > powerAxis_->max()) {
                powerAxis_->setMax(v * 1.1);
            }
        }
    }
}

void HistoryWindow::setPlan(const PlanView& view) {
    prices_->setPlan(view);
}

bool HistoryWindow::exportCsv(const QString& file) {
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly)) {
        return false;
    }
    if (tabs_->currentIndex() != 0) {
        out.write(DaysCsvHeader() + DaysCsv(shownDays_));
    } else if (!writeDayCycles(out)) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

bool HistoryWindow::writeDayCycles(QIODevice& out) {
    if (flushStore) {
        flushStore();
    }
    const qint64 from = DayStartMs(day_);
    const qint64 to = DayStartMs(day_.addDays(1));
    bool written = out.write(CyclesCsvHeader()) > 0;
    // The day's cycles as the store has them, a batch at a time, then those it does not have yet.
    std::vector<CycleRow> batch;
    qint64 newest = std::numeric_limits<qint64>::min();
    const auto put = [&] {
        written = written && out.write(CyclesCsv(batch)) >= 0;
        batch.clear();
    };
    const auto take = [&](const CycleRow& row) {
        newest = row.timeMs;
        batch.push_back(row);
        if (batch.size() >= kExportBatch) {
            put();
        }
    };
    HistoryReader reader;
    DbError error;
    if (QFile::exists(path_) && !(reader.open(path_, &error) && reader.eachCycle(from, to, take, &error))) {
        message_->setText(QStringLiteral("Could not read %1: %2").arg(path_, error.text));
        message_->show();
        return false;
    }
    for (const CycleRow& row : recent_) {
        if (row.timeMs > newest && row.timeMs >= from && row.timeMs < to) {
            batch.push_back(row);
        }
    }
    put();
    return written;
}

void HistoryWindow::chooseExportFile() {
    const QString suggested = tabs_->currentIndex() == 0
                                  ? QStringLiteral("history-%1.csv").arg(day_.toString(Qt::ISODate))
                                  : QStringLiteral("history-days-%1.csv").arg(lastDay_.toString(Qt::ISODate));
    // Opened with open(), not exec(): no nested event loop while the operator picks a name.
    auto* dialog =
        new QFileDialog(this, QStringLiteral("Export CSV"), suggested, QStringLiteral("CSV files (*.csv)"));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& file) {
        if (!exportCsv(file)) {
            message_->setText(QStringLiteral("Could not write %1").arg(file));
            message_->show();
        }
    });
    dialog->open();
}

void OpenHistoryOnClick(MainWindow& window, Shell& shell, HistoryStore& store, const Clock& clock,
                        const PlanViewSource& plan) {
    auto shown = std::make_shared<QPointer<HistoryWindow>>();
    QObject::connect(&window, &MainWindow::historyClicked, &window, [&, shown, plan] {
        if (shown->isNull()) {
            auto* history = new HistoryWindow(store.path(), clock.now().date(), &window);
            history->setAttribute(Qt::WA_DeleteOnClose);
            // Rows of a slow poll rate wait up to a minute for their commit: drawn all the same.
            for (const CycleRow& row : store.waitingCycles()) {
                history->addCycle(row);
            }
            if (plan) {
                history->setPlan(plan());
            }
            QObject::connect(&shell, &Shell::cycleCompleted, history,
                             [history, plan](const Reading& reading) {
                                 history->addCycle(CycleFromReading(reading));
                                 if (plan) {
                                     history->setPlan(plan());
                                 }
                             });
            history->flushStore = [&store] { store.flush(); };
            *shown = history;
        }
        (*shown)->show();
        (*shown)->raise();
        (*shown)->activateWindow();
    });
}

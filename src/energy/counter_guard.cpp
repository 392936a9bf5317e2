#include "energy/counter_guard.h"

#include "support/file_failures.h"
#include "support/file_replacement.h"
#include "support/text_forms.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

const char* const kCountersFile = "ModbusClient counters.json";

namespace {
const char* const kNames[] = {"PV charge", "PV discharge", "Grid charge", "Grid discharge"};
// Energy that may show up at once whatever the time elapsed: a counter that steps in whole kWh.
constexpr double kAllowanceWh = 1000;
// Where the installation names no rated power: more than any home battery moves.
constexpr double kUnknownRatedW = 100000;
constexpr int kSaveEverySeconds = 60;
} // namespace

CounterGuard::CounterGuard(FileFailures& failures, QString path)
    : failures_(failures), path_(std::move(path)) {}

CounterGuard::~CounterGuard() {
    if (dirty_) {
        save();
    }
}

void CounterGuard::Anchor() {
    // The working folder as it is when the counters are first read or restored: the last write, on
    // the way out, goes there too.
    file_ = QFileInfo(path_).absoluteFilePath();
}

void CounterGuard::Say(const QString& text, bool logged) const {
    if (say) {
        say(text, logged);
    }
}

void CounterGuard::restore() {
    Anchor();
    QFile file(file_);
    if (!file.exists()) {
        return;
    }
    QJsonParseError parse{};
    const QJsonArray list = file.open(QIODevice::ReadOnly)
                                ? QJsonDocument::fromJson(file.read(qint64{64} * 1024), &parse)
                                      .object()
                                      .value(QLatin1String("counters"))
                                      .toArray()
                                : QJsonArray();
    for (size_t i = 0; i < counters_.size() && list.size() == static_cast<qsizetype>(counters_.size()); ++i) {
        const QJsonObject entry = list.at(static_cast<qsizetype>(i)).toObject();
        counters_[i].accepted = entry.value(QLatin1String("value")).toDouble(-1);
        counters_[i].acceptedAt =
            QDateTime::fromString(entry.value(QLatin1String("time")).toString(), Qt::ISODate);
    }
    known_ = std::all_of(counters_.begin(), counters_.end(),
                         [](const Counter& c) { return c.accepted >= 0 && c.acceptedAt.isValid(); });
    if (!known_) {
        counters_ = {};
        Say(QStringLiteral("%1 cannot be read: the next counters read are taken as they are").arg(path_),
            true);
    }
}

bool CounterGuard::Plausible(double from, const QDateTime& fromTime, double to, const QDateTime& toTime,
                             double ratedW) const {
    if (to < from) {
        return false;
    }
    const double hours = std::max<qint64>(0, fromTime.msecsTo(toTime)) / 3600000.0;
    const double mostWh = 2 * (ratedW > 0 ? ratedW : kUnknownRatedW) * hours + kAllowanceWh;
    return to - from <= (countsKwh ? mostWh / 1000 : mostWh);
}

void CounterGuard::Check(int index, double raw, const QDateTime& time, double ratedW) {
    Counter& c = counters_[static_cast<size_t>(index)];
    const QString name = QLatin1String(kNames[index]);
    const QString unit = countsKwh ? QStringLiteral(" kWh") : QStringLiteral(" Wh");
    if (Plausible(c.accepted, c.acceptedAt, raw, time, ratedW)) {
        if (rejections_.succeeded(name)) {
            Say(QStringLiteral("%1 lifetime counter reads %2%3 again").arg(name, DecimalText(raw), unit),
                false);
        }
        c = Counter::At(raw, time);
        dirty_ = true;
        return;
    }
    const QString why = raw < c.accepted ? QStringLiteral("below")
                                         : QStringLiteral("more than the installation can have moved since");
    if (rejections_.failed(name, why)) {
        Say(QStringLiteral("%1 lifetime counter read %2%3, %4 the last accepted %5%3: not used")
                .arg(name, DecimalText(raw), unit, why, DecimalText(c.accepted)),
            true);
    }
    // A new level that holds, never going back from one cycle to the next, is a replaced meter or
    // battery (or a counter moving faster than the clock says, as a simulator's does).
    if (c.held > 0 && raw >= c.candidate) {
        ++c.held;
    } else {
        c.held = 1;
    }
    c.candidate = raw;
    if (c.held >= kHoldCycles) {
        Say(QStringLiteral(
                "%1 lifetime counter has read a new level for %2 cycles: %3%4 accepted in place of "
                "%5%4 (a replaced meter or battery?)")
                .arg(name)
                .arg(kHoldCycles)
                .arg(DecimalText(raw), unit, DecimalText(c.accepted)),
            true);
        c = Counter::At(raw, time);
        rejections_.succeeded(name);
        dirty_ = true;
        save();
    }
}

double CounterGuard::DayStart(int index, double night, const Counter& before, const QDateTime& time,
                              double ratedW) {
    Day& day = days_[static_cast<size_t>(index)];
    if (day.night == night) {
        return day.start;
    }
    // A new snapshot is the counters as read at midnight: a bad read then would make the whole
    // lifetime one day's figure. It must be the value accepted last, or plausibly above it.
    const bool seen = day.night.has_value();
    day.night = night;
    day.start = night;
    if (seen && !Plausible(before.accepted, before.acceptedAt, night, time, ratedW)) {
        day.start = before.accepted;
        const QString unit = countsKwh ? QStringLiteral(" kWh") : QStringLiteral(" Wh");
        Say(QStringLiteral("%1 lifetime counter in the night snapshot is %2%3, not plausible after %4%3: the "
                           "day counts from %4%3")
                .arg(QLatin1String(kNames[index]), DecimalText(night), unit, DecimalText(before.accepted)),
            true);
    }
    return day.start;
}

Reading CounterGuard::apply(const Reading& raw) {
    Reading guarded = raw;
    lastTime_ = raw.time;
    if (!known_) {
        // Nothing to compare with: the first values are taken as they are.
        Anchor();
        known_ = true;
        for (size_t i = 0; i < counters_.size(); ++i) {
            counters_[i] = Counter::At(raw.lifetime[i], raw.time);
        }
        dirty_ = true;
    } else {
        const double ratedW = static_cast<double>(std::max(raw.ratedBatteryW, raw.ratedPvW));
        for (size_t i = 0; i < counters_.size(); ++i) {
            const Counter before = counters_[i];
            Check(static_cast<int>(i), raw.lifetime[i], raw.time, ratedW);
            // The day's counter is the lifetime counter less the night snapshot's: it moves with it.
            guarded.lifetime[i] = counters_[i].accepted;
            if (raw.today[i]) {
                guarded.today[i] =
                    guarded.lifetime[i] -
                    DayStart(static_cast<int>(i), raw.lifetime[i] - *raw.today[i], before, raw.time, ratedW);
            }
        }
    }
    if (dirty_ && (!savedAt_.isValid() || savedAt_.secsTo(raw.time) >= kSaveEverySeconds ||
                   savedAt_.secsTo(raw.time) < 0)) {
        save();
    }
    return guarded;
}

void CounterGuard::save() {
    if (!known_) {
        return;
    }
    QJsonArray list;
    for (const Counter& c : counters_) {
        QJsonObject entry;
        entry.insert(QLatin1String("value"), c.accepted);
        entry.insert(QLatin1String("time"), c.acceptedAt.toUTC().toString(Qt::ISODateWithMs));
        list.append(entry);
    }
    QJsonObject json;
    json.insert(QLatin1String("counters"), list);
    FileFailure failure;
    savedAt_ = lastTime_;
    if (ReplaceFileSynced(file_, QJsonDocument(json).toJson(QJsonDocument::Indented), &failure)) {
        dirty_ = false;
        failures_.succeeded(path_);
    } else {
        failures_.failed(path_, failure, QStringLiteral("the counters accepted earlier are kept"));
    }
}

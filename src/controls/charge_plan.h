#pragma once

#include "controls/control_log.h"
#include "controls/plan_settings.h"
#include "controls/price_plan.h"

#include <QHash>
#include <QObject>
#include <QTimer>
#include <functional>
#include <optional>

class ManagedCharge;
struct Reading;

extern const char* const kPlanSource;

// The charge plan at work: it takes the day's prices (tariff.csv in the working folder, looked at
// every minute, or a list from the broker), plans again when the prices, the state of charge (by
// more than a few percent), the settings or ready_by's day change, and runs each planned slot
// (adjacent ones as one) as a managed charge of the source "plan" that ends at the slot's end.
// A slot that ran, or that another start replaced, is never started again.
class ChargePlan : public QObject {
    Q_OBJECT
public:
    ChargePlan(ManagedCharge& charge, StatusPane& status, const Clock& clock, FileFailures& failures,
               QObject* parent = nullptr);

    void setSettings(const PlanSettings& settings);
    const PlanSettings& settings() const { return settings_; }
    // Home Assistant's switch: off ends the plan's running slot and plans nothing more.
    void setEnabled(bool enabled, const QString& source);
    bool enabled() const { return enabled_; }
    // A JSON list of prices from a source ("mqtt"): taken, or refused with its reason (said once).
    void offerJson(const QString& source, const QByteArray& payload);

    // A completed poll cycle: the state of charge, the capacity and the rated battery power.
    void onReading(const Reading& reading);
    // The one-second check of the slots, ready_by and (every minute) tariff.csv; tests call it.
    void Tick();

    // What the plan shows: the prices, the slots, the energy and cost, when and why it was made.
    const PlanView& view() const { return view_; }
    // Each plan line once more, where the status lines are not kept (the journal).
    void setNotice(std::function<void(const QString&)> notice) { log_.notice = std::move(notice); }

Q_SIGNALS:
    void changed();

private:
    void CheckFile();
    void Take(const QString& source, bool parsed, QVector<PriceSlot> slots, QString reason);
    void Replan(const QString& reason, bool sayAlways = true);
    void Run();
    void ChargeChanged();

    ManagedCharge& charge_;
    ControlLog log_;
    const Clock& clock_;
    PlanSettings settings_;
    bool enabled_ = true;
    PlanView view_;
    QVector<PriceSlot> prices_;
    QTimer tick_;
    std::optional<qint64> fileCheckedMs_;
    QDateTime fileStamp_;
    qint64 fileSize_ = -1;
    QHash<QString, QString> refused_; // the last refusal said, by source
    std::optional<double> soc_;
    std::optional<double> socAtPlan_;
    double capacityKwh_ = 0;
    double ratedKw_ = 0;
    QDateTime readyBy_;    // the plan's ready_by instant
    QDateTime attempted_;  // the slot start last tried
    bool retry_ = false;   // a start refused until a poll cycle completes
    bool running_ = false; // a charge of this plan is active
};

#include "common/test_support.h"
#include "energy/counter_guard.h"
#include "support/clock.h"
#include "support/error_log.h"
#include "support/file_failures.h"
#include "support/prompter.h"

#include <gtest/gtest.h>

namespace {

class CounterGuardTest : public InTempDir {
protected:
    Reading At(int minutes, double pvCharge, std::optional<double> today = std::nullopt) const {
        Reading r;
        r.time = QDateTime(QDate(2026, 12, 7), QTime(12, 0)).addSecs(qint64{60} * minutes);
        r.ratedBatteryW = 5000;
        r.lifetime = {pvCharge, 10, 20, 30};
        r.today[Reading::PvCharge] = today;
        return r;
    }

    SettableClock clock;
    RecordingPrompter prompter;
    ErrorLog log{clock, prompter};
    FileFailures failures{log};
    QStringList said;
};

TEST_F(CounterGuardTest, TheLastAcceptedValuesOutliveTheRunAndBoundTheNextOne) {
    {
        CounterGuard guard(failures);
        guard.apply(At(0, 4000));
        guard.apply(At(1, 4050));
    } // written on the way out
    CounterGuard guard(failures);
    guard.say = [this](const QString& text, bool) { said.append(text); };
    guard.restore();
    // A day later, a drop is no figure; a day's worth at twice the rated power plus 1 kWh is one.
    EXPECT_EQ(*guard.apply(At(24 * 60, 0, 10)).today[Reading::PvCharge], 4050 + 10);
    EXPECT_EQ(guard.apply(At(24 * 60 + 1, 4050 + 241000)).lifetime[Reading::PvCharge], 245050);
    EXPECT_EQ(guard.apply(At(24 * 60 + 2, 245050 + 1200)).lifetime[Reading::PvCharge], 245050);
    EXPECT_EQ(said.size(), 3); // the drop, the recovery, the jump

    // Counting in kWh, the bound is a thousandth.
    guard.countsKwh = true;
    EXPECT_EQ(guard.apply(At(24 * 60 + 3, 245050 + 2)).lifetime[Reading::PvCharge], 245050);
    EXPECT_EQ(guard.apply(At(24 * 60 + 4, 245051)).lifetime[Reading::PvCharge], 245051);

    // A night snapshot taken from a bad read: the day counts from the value accepted last.
    EXPECT_EQ(*guard.apply(At(24 * 60 + 5, 245051, 0)).today[Reading::PvCharge], 0); // a new day
    EXPECT_EQ(*guard.apply(At(24 * 60 + 6, 245052, 245052)).today[Reading::PvCharge], 1);
    EXPECT_TRUE(
        said.last().endsWith("in the night snapshot is 0 kWh, not plausible after 245051 kWh: the day "
                             "counts from 245051 kWh"));
}

} // namespace

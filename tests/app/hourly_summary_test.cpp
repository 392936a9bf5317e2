#include "app/hourly_summary.h"
#include "app/shell.h"
#include "common/test_support.h"
#include "support/clock.h"
#include "support/prompter.h"

namespace {
class HourlySummaryTest : public InTempDir {
protected:
    SettableClock clock;
    RecordingPrompter prompter;
    Shell shell{clock, prompter};
    QStringList printed;
    HourlySummary summary{shell, [this](const QString& line) { printed.append(line); }, 3600};
};
} // namespace

TEST_F(HourlySummaryTest, CountsCyclesAndErrorsSinceTheLastLineThenStartsAgain) {
    EXPECT_EQ(summary.takeLine(),
              QStringLiteral("Last 60 min: poll cycles 0, errors 0; no figures read yet"));
    Form& form = shell.form();
    form.BatteryPercent = QStringLiteral("57");
    form.PVChargeToday = QStringLiteral("1200");
    form.PVDischargeToday = QStringLiteral("300");
    form.GridChargeToday = QStringLiteral("0");
    form.GridDischargeToday = QStringLiteral("45");
    EXPECT_TRUE(
        summary.takeLine().endsWith(QStringLiteral("the day's counters start at the first midnight")));
    form.NightPVChargeLife = QStringLiteral("4000");
    Q_EMIT shell.pollCycleCompleted();
    Q_EMIT shell.pollCycleCompleted();
    shell.log().ErrorHandle(QStringLiteral("5"), QStringLiteral("0"), QStringLiteral("PollStep"));
    EXPECT_EQ(summary.takeLine(),
              QStringLiteral("Last 60 min: poll cycles 2, errors 1; state of charge 57 %; today "
                             "PV charge 1200, PV discharge 300, grid charge 0, grid discharge 45"));
    EXPECT_TRUE(summary.takeLine().startsWith(QStringLiteral("Last 60 min: poll cycles 0, errors 0;")));
    EXPECT_TRUE(summary.startLine().contains(QStringLiteral("192.168.1.50:502")));
    EXPECT_TRUE(printed.isEmpty()); // nothing before the first hour is up
}

TEST(HourlySummaryInterval, ComesFromTheEnvironmentWithinOneSecondToADay) {
    const struct {
        const char* value;
        int seconds;
    } cases[] = {{"60", 60}, {"86400", 86400}, {"0", 3600}, {"86401", 3600}, {"soon", 3600}, {"", 3600}};
    for (const auto& c : cases) {
        qputenv("MODBUSCLIENT_SUMMARY_SECONDS", c.value);
        EXPECT_EQ(HourlySummary::IntervalFromEnvironment(), c.seconds) << c.value;
    }
    qunsetenv("MODBUSCLIENT_SUMMARY_SECONDS");
    EXPECT_EQ(HourlySummary::IntervalFromEnvironment(), 3600);
}

#include "installation.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {
int Word(const Installation& sim, int address) {
    QList<quint16> values;
    EXPECT_TRUE(sim.read(address, 1, &values)) << address;
    return values.value(0);
}

std::array<std::uint64_t, 4> Counters(const Installation& sim) {
    return {sim.counter(Installation::PvCharge), sim.counter(Installation::PvDischarge),
            sim.counter(Installation::GridDischarge), sim.counter(Installation::GridCharge)};
}
} // namespace

TEST(Installation, ADayStaysPlausibleAndItsPowersChangeSign) {
    Installation sim(QDateTime(QDate(2026, 6, 21), QTime(0, 0)));
    auto previous = Counters(sim);
    int pv[2] = {0, 0}; // lowest and highest seen
    int grid[2] = {0, 0};
    for (int minute = 0; minute < 2 * 24 * 60; minute += 10) {
        sim.advance(600);
        ASSERT_TRUE(sim.stateOfCharge() >= 0.0 && sim.stateOfCharge() <= 100.0);
        ASSERT_EQ(Word(sim, 60095), std::lround(sim.stateOfCharge()));
        const auto now = Counters(sim);
        ASSERT_TRUE(std::equal(now.begin(), now.end(), previous.begin(), std::greater_equal<>()))
            << "a counter went back";
        previous = now;
        pv[0] = std::min(pv[0], sim.pvBatteryW());
        pv[1] = std::max(pv[1], sim.pvBatteryW());
        grid[0] = std::min(grid[0], sim.gridW());
        grid[1] = std::max(grid[1], sim.gridW());
    }
    EXPECT_TRUE(pv[0] < -1000 && pv[1] > 500) << pv[0] << " " << pv[1];
    EXPECT_TRUE(grid[0] < -100 && grid[1] > 100) << grid[0] << " " << grid[1];
    EXPECT_EQ(sim.now(), QDateTime(QDate(2026, 6, 23), QTime(0, 0)));

    // The served words: a negative power is two words with a high word of 0xFFFF, counters are
    // four words, most significant first.
    sim.advance(10 * 3600); // mid-morning: charging from PV
    ASSERT_LT(sim.pvBatteryW(), 0);
    EXPECT_EQ(Word(sim, 60071), 0xFFFF);
    EXPECT_EQ(Word(sim, 60072), sim.pvBatteryW() + 65536);
    const std::uint64_t pvCharge = std::uint64_t(Word(sim, 60166)) << 48 |
                                   std::uint64_t(Word(sim, 60167)) << 32 |
                                   std::uint64_t(Word(sim, 60168)) << 16 | std::uint64_t(Word(sim, 60169));
    EXPECT_EQ(pvCharge, sim.counter(Installation::PvCharge));
    EXPECT_EQ(Word(sim, 60031) << 16 | Word(sim, 60032), Installation::kCapacityKWh);
}

TEST(Installation, AForcedChargeDrawsFromTheGridAndOnlyServedRangesAnswer) {
    Installation sim(QDateTime(QDate(2026, 12, 9), QTime(2, 0)));
    const double soc = sim.stateOfCharge();
    const std::uint64_t drawn = sim.counter(Installation::GridCharge);
    ASSERT_TRUE(sim.write(60310, 0));
    ASSERT_TRUE(sim.write(60314, 2500));
    sim.advance(3600);
    EXPECT_NEAR(sim.stateOfCharge(), soc + 25.0, 0.01);
    EXPECT_GE(sim.counter(Installation::GridCharge) - drawn, 2500u);
    EXPECT_EQ(Word(sim, 60310), 0);
    EXPECT_EQ(Word(sim, 60314), 2500);

    QList<quint16> values;
    EXPECT_TRUE(sim.read(60000, 96, &values));
    EXPECT_EQ(values.size(), 96);
    EXPECT_FALSE(sim.read(60000, 97, &values));
    EXPECT_FALSE(sim.read(60190, 1, &values));
    EXPECT_FALSE(sim.read(40000, 2, &values)); // only with the SunSpec signature switched on
    EXPECT_TRUE(Installation(sim.now(), true).read(40000, 2, &values));
    EXPECT_EQ(values, QList<quint16>({0x5375, 0x6E53}));
    EXPECT_FALSE(sim.write(60095, 100));
}

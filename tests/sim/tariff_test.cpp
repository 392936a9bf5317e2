#include "common/test_support.h"
#include "tariff.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>

namespace {
double Cheapest(const QVector<TariffSlot>& slots, int from, int count) {
    return std::min_element(slots.begin() + from, slots.begin() + from + count,
                            [](const TariffSlot& a, const TariffSlot& b) { return a.price < b.price; })
        ->price;
}
} // namespace

TEST(Tariff, MadeUpPricesCoverWholeDaysCheapAtNightAndMidday) {
    const ScopedTimeZone berlin("Europe/Berlin");
    const QVector<TariffSlot> slots = GenerateTariff(QDate(2026, 3, 28), 2);
    ASSERT_EQ(slots.size(), 96 + 92); // the clocks go forward on the 29th
    EXPECT_EQ(slots.back().end, QDateTime(QDate(2026, 3, 30), QTime(0, 0)));
    for (qsizetype i = 1; i < slots.size(); ++i) {
        ASSERT_EQ(slots[i].start, slots[i - 1].end);
        ASSERT_TRUE(slots[i].price > 0.1 && slots[i].price < 0.5) << slots[i].price;
    }
    EXPECT_EQ(GenerateTariff(QDate(2026, 10, 25), 1).size(), 100);
    // The night (00-06) and midday (11-15) are cheaper than the evening (17-21).
    const double evening = Cheapest(slots, 17 * 4, 16);
    EXPECT_LT(Cheapest(slots, 0, 24), evening);
    EXPECT_LT(Cheapest(slots, 11 * 4, 16), evening);
}

TEST(Tariff, ReadsCsvAndBothJsonShapesAndWritesTheClientsFiles) {
    QVector<TariffSlot> slots;
    QString error;
    const QByteArray csv = "start,end,price\n2026-12-10T00:00:00+01:00,2026-12-10T01:00:00+01:00,0.25\n"
                           "2026-12-10T01:00:00+01:00,2026-12-10T02:00:00+01:00,-0.01\n";
    ASSERT_TRUE(ReadTariff(csv, &slots, &error)) << error.toStdString();
    ASSERT_EQ(slots.size(), 2);
    EXPECT_EQ(slots[1].start, QDateTime(QDate(2026, 12, 10), QTime(0, 0), Qt::UTC));
    ASSERT_TRUE(ReadTariff(R"({"raw_today": [{"start": "2026-12-10T00:00:00+01:00",
        "end": "2026-12-10T01:00:00+01:00", "value": 0.3}], "raw_tomorrow": []})",
                           &slots, &error));
    EXPECT_EQ(slots.size(), 1);
    EXPECT_FALSE(
        ReadTariff("start,end,price\n2026-12-10T01:00:00,2026-12-10T00:00:00,0.2\n", &slots, &error));
    EXPECT_EQ(error, QStringLiteral("line 2 is not start,end,price with ISO times, the start first"));
    EXPECT_FALSE(
        ReadTariff(R"([{"start": "2026-12-10T00:00:00Z", "end": "2026-12-10T01:00:00Z"}])", &slots, &error));

    // A JSON list, as --tariff FILE reads it, to the CSV the client reads.
    QTemporaryDir dir;
    ASSERT_TRUE(ReadTariff(csv, &slots, &error));
    WriteAll(dir.filePath(QStringLiteral("day.json")), TariffJson(slots));
    TariffWriter writer(dir.filePath(QStringLiteral("day.json")), dir.path());
    ASSERT_TRUE(writer.start(&error)) << error.toStdString();
    EXPECT_EQ(ReadAll(dir.filePath(QStringLiteral("tariff.csv"))), csv);
    EXPECT_FALSE(TariffWriter(dir.filePath(QStringLiteral("none.csv")), dir.path()).start(&error));
}

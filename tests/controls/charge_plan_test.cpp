#include "app/config_file.h"
#include "controls/charge_fixture.h"
#include "controls/charge_planner.h"
#include "controls/tariff.h"

#include <ctime>

namespace {

// n slots of the given minutes from start, priced in turn from prices.
QVector<PriceSlot> Slots(const QDateTime& start, int minutes, int n, const QVector<double>& prices) {
    QVector<PriceSlot> slots;
    for (int i = 0; i < n; ++i) {
        slots.append({start.addSecs(60LL * i * minutes), start.addSecs(60LL * (i + 1) * minutes),
                      prices.at(i % prices.size())});
    }
    return slots;
}

PlanSettings Cheapest(double powerKw = 2.5) {
    return {PlanSettings::Cheapest, QTime(7, 0), 90, std::nullopt, 0, 0.9, powerKw};
}

// Local time is Berlin's while it lives.
struct InBerlin {
    const QByteArray previous = qgetenv("TZ");
    InBerlin() { qputenv("TZ", "Europe/Berlin"), tzset(); }
    ~InBerlin() { previous.isNull() ? qunsetenv("TZ") : qputenv("TZ", previous), tzset(); }
};

QStringList Starts(const PlanView& view) {
    QStringList starts;
    for (const PlanSlot& slot : view.slots) {
        starts.append(slot.start.toLocalTime().toString(QStringLiteral("HH:mm")));
    }
    return starts;
}

} // namespace

// 10 kWh from 40 to 90 % is 5 kWh; at 2.5 kW and 90 % a slot-hour brings 2.25 kWh: three hours.
TEST(ChargePlanner, TheCheapestSlotsBeforeReadyByInHoursAndQuarterHoursAndMaxPriceSaysWhatIsMissing) {
    const InBerlin berlin;
    PlanInput input;
    input.now = QDateTime(QDate(2026, 12, 7), QTime(22, 10));
    input.socPercent = 40;
    input.capacityKwh = 10;
    input.ratedKw = 5;
    // 22:00 to 10:00; after ready_by the cheapest hours do not count.
    input.prices = Slots(QDateTime(QDate(2026, 12, 7), QTime(22, 0)), 60, 12,
                         {0.05, 0.30, 0.28, 0.12, 0.10, 0.25, 0.31, 0.11, 0.29, 0.01, 0.01, 0.01});
    PlanView view = MakePlan(Cheapest(), input);
    EXPECT_EQ(Starts(view), QStringList({"22:00", "02:00", "05:00"}));
    EXPECT_DOUBLE_EQ(view.energyKwh, 2.25 * 50 / 60 + 2.25 * 2); // 22:00 counts from 22:10 only
    EXPECT_NEAR(view.expectedCost, 2.5 * (0.05 * 50 / 60 + 0.10 + 0.11), 1e-9);
    EXPECT_TRUE(view.unmet.isEmpty());

    // Above the rated battery power the plan charges at the rated power.
    input.ratedKw = 2;
    EXPECT_NEAR(MakePlan(Cheapest(9), input).energyKwh, 1.8 * (50.0 / 60 + 2), 1e-9);
    input.ratedKw = 5;

    input.now = QDateTime(QDate(2026, 12, 7), QTime(22, 0));
    input.prices = Slots(input.now, 15, 36, {0.2, 0.3, 0.1, 0.4, 0.15, 0.35});
    view = MakePlan(Cheapest(), input);
    // A third of the quarters cost 0.1 or 0.15: the nine needed are among them.
    EXPECT_EQ(view.slots.size(), 9);
    for (const PlanSlot& slot : view.slots) {
        EXPECT_LE(slot.price, 0.15);
        EXPECT_EQ(slot.start.secsTo(slot.end), 900);
    }

    PlanSettings capped = Cheapest();
    capped.maxPrice = 0.1;
    view = MakePlan(capped, input); // six quarters at 0.1 bring 3.375 of 5 kWh
    EXPECT_EQ(view.slots.size(), 6);
    EXPECT_EQ(view.unmet, QStringLiteral("max_price 0.1 leaves 1.6 kWh short of 90 % by 07:00"));

    // Below a limit: the earliest slots at or under it, until the target, whatever comes later.
    PlanSettings below = Cheapest();
    below.mode = PlanSettings::Below;
    below.priceLimit = 0.15;
    EXPECT_EQ(Starts(MakePlan(below, input)).join(' '),
              "22:30 23:00 00:00 00:30 01:30 02:00 03:00 03:30 04:30");
}

// The nights the clocks change: from midnight to 07:00 there are six hours in spring, eight in autumn.
TEST(ChargePlanner, DaysOf23And25HoursCountTheirHours) {
    const InBerlin berlin;
    for (const auto& [day, hours, before] :
         {std::tuple{QDate(2026, 3, 29), 23, 6}, {QDate(2026, 10, 25), 25, 8}}) {
        const QDateTime midnight(day, QTime(0, 0));
        QVector<PriceSlot> prices = Slots(midnight, 60, hours, {0.2});
        QString reason;
        ASSERT_TRUE(CheckTariff(&prices, midnight, &reason)) << reason.toStdString();
        EXPECT_EQ(prices.last().end, QDateTime(day.addDays(1), QTime(0, 0)));
        PlanInput input{prices, midnight, 0, 100, 5, {}};
        const PlanView view = MakePlan(Cheapest(), input);
        EXPECT_EQ(view.slots.size(), before);
        EXPECT_EQ(view.slots.last().end, QDateTime(day, QTime(7, 0)));
        EXPECT_TRUE(view.unmet.startsWith(QStringLiteral("the known prices before 07:00 leave")))
            << view.unmet.toStdString();
    }
}

// An entry of 07/12/2026 from one wall time to another (+01:00), priced with the word given.
QByteArray Entry(const char* from, const char* to, const char* word = "price", double price = 0.2) {
    return QStringLiteral(R"({"start": "2026-12-07T%1:00+01:00", "end": "2026-12-07T%2:00+01:00", "%3": %4})")
        .arg(QLatin1String(from), QLatin1String(to), QLatin1String(word))
        .arg(price)
        .toUtf8();
}

TEST(Tariff, BothJsonShapesAndTheFileAreReadAndBadListsAreRefusedWithTheirReason) {
    const InBerlin berlin;
    const QDateTime now = QDateTime::fromString(QStringLiteral("2026-12-07T20:00:00+01:00"), Qt::ISODate);
    QVector<PriceSlot> slots;
    QString reason;
    ASSERT_TRUE(
        ParseTariffJson("[" + Entry("22:00", "23:00") + "," + Entry("21:00", "22:00", "price", 0.1) + "]",
                        &slots, &reason) &&
        CheckTariff(&slots, now, &reason));
    EXPECT_EQ(slots.at(0).price, 0.1); // sorted by start
    EXPECT_EQ(slots.at(1).start, now.addSecs(7200));
    ASSERT_TRUE(ParseTariffJson(R"({"raw_today": [)" + Entry("21:00", "21:15", "value", -0.01) +
                                    R"(], "raw_tomorrow": null})",
                                &slots, &reason) &&
                CheckTariff(&slots, now, &reason));
    EXPECT_EQ(slots.at(0).price, -0.01);
    ASSERT_TRUE(ParseTariffCsv(
        "\xEF\xBB\xBFstart,end,price\n2026-12-07T21:00:00+01:00,2026-12-07T21:15:00+01:00,0.3\r\n", &slots,
        &reason));
    EXPECT_EQ(slots.at(0).start.secsTo(slots.at(0).end), 900);

    const auto refused = [&](const QByteArray& json) {
        QString why;
        QVector<PriceSlot> list;
        EXPECT_FALSE(ParseTariffJson(json, &list, &why) && CheckTariff(&list, now, &why))
            << json.toStdString();
        return why.toStdString();
    };
    EXPECT_EQ(refused("[{\"start\": 1"), "not JSON (invalid termination by number at byte 12)");
    EXPECT_EQ(refused("[" + Entry("21:00", "never") + "]"), "entry 1: start and end must be ISO 8601 times");
    EXPECT_EQ(refused("[" + Entry("21:00", "22:00") + "," + Entry("21:30", "22:30") + "]"),
              "the slots starting 07/12/2026 21:00:00 and 07/12/2026 21:30:00 overlap");
    EXPECT_EQ(refused("[" + Entry("18:00", "19:00") + "]"),
              "every slot is in the past (the last ended 07/12/2026 19:00:00)");
}

TEST(ChargeSettingsFile, APlanIsReadAndAWindowBesideItIsRefusedNamingTheFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("modbusclient.conf"));
    WriteAll(path, "[charge]\nplan = cheapest\nready_by = 6:30\ntarget_soc = 80\nmax_price = 0.25\n");
    SettingsFile settings;
    QString error;
    ASSERT_TRUE(ReadSettingsFile(path, &settings, &error)) << error.toStdString();
    const PlanSettings& plan = settings.charge.plan;
    EXPECT_TRUE(plan.mode == PlanSettings::Cheapest && plan.readyBy == QTime(6, 30) && plan.targetSoc == 80);
    EXPECT_TRUE(plan.maxPrice == 0.25 && plan.efficiency == 0.9 && !plan.powerKw); // power: the rated one

    WriteAll(path, "[charge]\nplan = below\nprice_limit = 0.1\nwindow = 01:00-05:00\npower = 2\n");
    EXPECT_FALSE(ReadSettingsFile(path, &settings, &error));
    EXPECT_EQ(error,
              QStringLiteral("[charge] window and plan exclude each other: a fixed window, or a plan from "
                             "the prices in ") +
                  path);
}

namespace {
class ChargePlanTest : public ChargeFixture {
protected:
    void SetUp() override {
        ChargeFixture::SetUp();
        server.registers[60032] = 10; // 10 kWh
        // 23:00 to 07:00 local: the cheapest hours are 01:00, 03:00 and 05:00.
        WriteTariff({0.30, 0.29, 0.10, 0.28, 0.11, 0.27, 0.12, 0.26});
        shell.charge().setManaged(true);
        shell.plan().setSettings(Cheapest());
        shell.Form_Load(QStringLiteral("127.0.0.1"));
        shell.form().Port = QString::number(server.port());
        Cycle([&] { shell.connectcmd_Click(); });
    }
    void WriteTariff(const QVector<double>& prices) {
        QByteArray csv = "start,end,price\n";
        for (const PriceSlot& slot : Slots(QDateTime(QDate(2026, 12, 7), QTime(23, 0)), 60, 8, prices)) {
            csv += slot.start.toString(Qt::ISODate).toUtf8() + ',' + slot.end.toString(Qt::ISODate).toUtf8() +
                   ',' + QByteArray::number(slot.price) + '\n';
        }
        WriteAll(QString::fromLatin1(kTariffFile), csv);
    }
    void Cycle(const std::function<void()>& poll) {
        int cycles = 0;
        const auto c = QObject::connect(&shell, &Shell::pollCycleCompleted, [&] { ++cycles; });
        poll();
        EXPECT_TRUE(WaitUntil([&] { return cycles > 0; }));
        QObject::disconnect(c);
    }
    void At(int hour, int minute = 0) {
        clock.set(QDateTime(QDate(2026, 12, 8), QTime(hour, minute)));
        shell.charge().Tick();
        shell.plan().Tick();
    }
    bool WaitWrites(qsizetype n) {
        return WaitUntil([&] { return server.writes().size() >= n && !server.client()->bytesAvailable(); });
    }
    QStringList States() {
        QStringList states;
        for (const PlanSlot& slot : shell.plan().view().slots) {
            states.append(slot.start.toString(QStringLiteral("HH:mm")) +
                          QStringLiteral("ABC").at(slot.state));
        }
        return states;
    }

    Shell shell{clock, prompter};
};
} // namespace

// A = planned, B = running, C = ran.
TEST_F(ChargePlanTest, SlotsRunAsManagedChargesAndThePlanFollowsPricesStateOfChargeAndOtherStarts) {
    // From 40 %, 5 kWh at 2.5 kW: three hours, the cheapest three.
    EXPECT_EQ(States(), QStringList({"01:00A", "03:00A", "05:00A"}));
    EXPECT_EQ(shell.plan().view().reason, QStringLiteral("state of charge 40 %"));
    At(0, 59);
    EXPECT_TRUE(server.writes().isEmpty());
    At(1, 0);
    ASSERT_TRUE(WaitWrites(2));
    EXPECT_EQ(server.writes(), Command(2500));
    EXPECT_EQ(shell.charge().state().source, QStringLiteral("plan"));
    EXPECT_EQ(shell.charge().state().endsAt, QDateTime(QDate(2026, 12, 8), QTime(2, 0)));
    EXPECT_EQ(States(), QStringList({"01:00B", "03:00A", "05:00A"}));

    // The battery got fuller than planned: one slot more is enough, the running one stays.
    server.registers[60095] = 60;
    Cycle([&] { shell.Timer2_Timer(); });
    EXPECT_EQ(States(), QStringList({"01:00B", "03:00A"}));
    // New prices: 05:00 is cheaper now; the running slot is not started again.
    WriteTariff({0.30, 0.29, 0.10, 0.28, 0.31, 0.27, 0.01, 0.26});
    At(1, 30);
    EXPECT_EQ(States(), QStringList({"01:00B", "05:00A"}));
    EXPECT_EQ(shell.plan().view().reason, QStringLiteral("new prices from tariff.csv"));
    At(2, 0);
    ASSERT_TRUE(WaitWrites(4));
    ASSERT_TRUE(WaitUntil([&] { return shell.charge().state().phase == ChargePhase::Idle; }));
    EXPECT_EQ(shell.charge().state().lastEndReason, QStringLiteral("time limit over"));
    EXPECT_EQ(States(), QStringList({"01:00C", "05:00A"}));

    // Home Assistant's start replaces the plan's slot, and its end does not bring the slot back.
    At(5, 0);
    ASSERT_TRUE(WaitWrites(6));
    ASSERT_TRUE(shell.charge().start({QStringLiteral("mqtt"), 1, std::nullopt, 10}).accepted);
    EXPECT_TRUE(shell.form().txtStatus.contains(
        QStringLiteral("Charge plan: its slot was replaced by a start from mqtt and is not started again")));
    ASSERT_TRUE(WaitWrites(8));
    shell.charge().stop(QStringLiteral("mqtt"));
    ASSERT_TRUE(WaitWrites(10));
    At(5, 20);
    EXPECT_EQ(server.writes().size(), 10);
    EXPECT_EQ(States(), QStringList({"01:00C", "05:00C"}));
    const QString log = QString::fromUtf8(ReadAll(QString::fromLatin1(kControlLogFile)));
    EXPECT_EQ(log.count(QStringLiteral(", plan, plan, 2.5 kW, 90 %, ")), 3) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral(", plan, plan, 2.5 kW, 90 %, 01:00-02:00, 03:00-04:00, "
                                            "05:00-06:00; 6.8 kWh, cost 0.83; state of charge 40 %")));
}

// The plan's slot ends at the program's end like any managed charge: written, read back, filed.
TEST_F(ChargePlanTest, AShutdownEndsTheRunningSlot) {
    At(3, 10);
    ASSERT_TRUE(WaitWrites(2));
    QString unconfirmed;
    EXPECT_TRUE(shell.FinishManagedCharge(5000, &unconfirmed)) << unconfirmed.toStdString();
    EXPECT_EQ(server.writes(), Command(2500) + Command(0));
    EXPECT_EQ(shell.charge().state().lastEndReason, QStringLiteral("program stops"));
    EXPECT_EQ(States(), QStringList({"01:00A", "03:00C", "05:00A"}));
}

#include "controls/charge_fixture.h"
#include "controls/charge_intent.h"

#include <cstdlib>
#include <ctime>

namespace {
class ChargeSafetyTest : public ChargeFixture {
protected:
    void SetUp() override {
        ChargeFixture::SetUp();
        server.registers[60310] = 1; // discharge: no forced charge
    }
    std::unique_ptr<Shell> Start(bool managed = true) {
        auto shell = std::make_unique<Shell>(clock, prompter);
        shell->charge().setManaged(managed);
        shell->Form_Load(QStringLiteral("127.0.0.1"));
        shell->form().Port = QString::number(server.port());
        shell->connectcmd_Click();
        return shell;
    }
    static ChargePhase Phase(Shell& shell) { return shell.charge().state().phase; }
    static bool WaitPhase(Shell& shell, ChargePhase phase, int ms = 5000) {
        return WaitUntil([&] { return Phase(shell) == phase; }, ms);
    }
    static QString Log() { return QString::fromUtf8(ReadAll(QString::fromLatin1(kControlLogFile))); }
    static ChargeIntent Saved() {
        ChargeIntent intent;
        QString error;
        EXPECT_TRUE(ReadChargeIntent(&intent, &error)) << error.toStdString();
        return intent;
    }
};
} // namespace

// The two ways a write fails: an exception reply and an echo that differs from the write. A
// start that fails is not running and is followed by the end; an end that fails is written again
// until the registers read back 0 W, and only then is it "end".
TEST_F(ChargeSafetyTest, RefusedWritesNeverCountAsDone) {
    auto shell = Start();
    ASSERT_TRUE(WaitUntil([&] { return server.requests.size() >= 3; })); // the cycle and the read-back
    server.script = {FakeServer::Fault::Normal, FakeServer::Fault::WrongEcho};
    ASSERT_TRUE(shell->charge().start({QStringLiteral("mqtt"), 2, std::nullopt, 60}).accepted);
    ASSERT_TRUE(WaitPhase(*shell, ChargePhase::Idle));
    EXPECT_FALSE(shell->charge().state().active);
    EXPECT_TRUE(Log().contains(QStringLiteral("mqtt, start failed, 2 kW, no target, the echo of 60314 = 2000 "
                                              "differs from the write")))
        << Log().toStdString();
    EXPECT_EQ(server.writes(), Command(2000) + Command(0));
    EXPECT_EQ(server.registers[60314], 0);

    ASSERT_TRUE(shell->charge().start({QStringLiteral("mqtt"), 2.5, std::nullopt, 60}).accepted);
    ASSERT_TRUE(WaitPhase(*shell, ChargePhase::Running));
    EXPECT_EQ(Saved().phase, ChargeIntent::Phase::Running);
    server.script = {FakeServer::Fault::Exception, FakeServer::Fault::Normal, FakeServer::Fault::Exception};
    shell->charge().stop(QStringLiteral("mqtt"));
    ASSERT_TRUE(WaitUntil([&] { return Log().contains(QStringLiteral("end unconfirmed")); }));
    EXPECT_EQ(Phase(*shell), ChargePhase::Ending);
    EXPECT_TRUE(shell->charge().state().deviceWatts == 2500);
    EXPECT_EQ(Saved().phase, ChargeIntent::Phase::Ending);
    // Tried again after 1 s and 2 s; said once.
    ASSERT_TRUE(WaitPhase(*shell, ChargePhase::Idle, 8000));
    EXPECT_EQ(Log().count(QStringLiteral("end unconfirmed")), 1);
    EXPECT_TRUE(Log().endsWith(QStringLiteral(", mqtt, end, 0 kW, no target, stop asked\r\n")));
    EXPECT_EQ(server.registers[60314], 0);
    EXPECT_EQ(Saved().phase, ChargeIntent::Phase::Idle);
}

// What an earlier run left: ended when its time is up, carried on to its own end otherwise; a
// wall clock set back does not stretch it. A charge nobody here started is said once and ended
// at the program's end.
TEST_F(ChargeSafetyTest, AnEarlierRunsChargeIsEndedOrCarriedOnAndAForeignOneIsSaid) {
    ChargeIntent left;
    left.phase = ChargeIntent::Phase::Running;
    left.source = QStringLiteral("mqtt");
    left.watts = 2000;
    left.started = clock.now().addSecs(-3600);
    left.endsAt = clock.now().addSecs(-60);
    QString error;
    ASSERT_TRUE(WriteChargeIntent(left, &error));
    server.registers[60310] = 0;
    server.registers[60314] = 2000;
    {
        auto shell = Start(false); // no window, no control: the file alone decides
        ASSERT_TRUE(WaitUntil([&] { return Log().contains(QStringLiteral(", end, ")); }));
        EXPECT_TRUE(
            Log().endsWith(QStringLiteral("mqtt, end, 0 kW, no target, left running by an earlier run\r\n")));
        EXPECT_EQ(server.writes(), Command(0));
    }

    left.endsAt = clock.now().addSecs(600);
    ASSERT_TRUE(WriteChargeIntent(left, &error));
    server.registers[60314] = 2000;
    auto shell = Start(false);
    ASSERT_TRUE(WaitPhase(*shell, ChargePhase::Running));
    EXPECT_EQ(shell->charge().state().endsAt, left.endsAt.toLocalTime());
    EXPECT_TRUE(Log().contains(QStringLiteral("mqtt, carried on, 2 kW")));
    clock.step(-2 * 3600 * 1000); // set back by an administrator: the limit stays 10 minutes
    clock.advance(599 * 1000);
    shell->charge().Tick();
    EXPECT_EQ(Phase(*shell), ChargePhase::Running);
    clock.advance(2000);
    shell->charge().Tick();
    ASSERT_TRUE(WaitPhase(*shell, ChargePhase::Idle));
    EXPECT_EQ(shell->charge().state().lastEndReason, QStringLiteral("time limit over"));

    server.registers[60314] = 3000; // someone else's charge
    auto other = Start(true);
    ASSERT_TRUE(WaitUntil([&] { return other->charge().state().foreign; }));
    EXPECT_TRUE(Log().contains(QStringLiteral("installation, found, 3 kW, no target, the installation is "
                                              "charging at 3000 W, not started here")));
    QString unconfirmed;
    EXPECT_TRUE(other->FinishManagedCharge(5000, &unconfirmed)) << unconfirmed.toStdString();
    EXPECT_EQ(server.registers[60314], 0);
}

// One bad read of the rated power refuses that cycle's start only.
TEST_F(ChargeSafetyTest, EachCyclesRatedPowerBoundsTheNextStart) {
    server.registers[60030] = 0;
    auto shell = Start();
    ASSERT_TRUE(WaitUntil([&] { return server.requests.size() >= 3; }));
    EXPECT_FALSE(shell->charge().start({QStringLiteral("mqtt"), 2, std::nullopt, 60}).accepted);
    server.registers[60030] = 5000;
    int cycles = 0;
    QObject::connect(shell.get(), &Shell::pollCycleCompleted, [&] { ++cycles; });
    shell->Timer2_Timer();
    ASSERT_TRUE(WaitUntil([&] { return cycles == 1; }));
    EXPECT_TRUE(shell->charge().start({QStringLiteral("mqtt"), 2, std::nullopt, 60}).accepted);
}

// Window boundaries are wall times: in the hour the change to summer time skips they move to the
// first valid minute, and on the night of the change back a window runs once, from the first
// occurrence of its start.
TEST(ChargeWindowTime, DaylightSavingNightsInBerlin) {
    const QByteArray previous = qgetenv("TZ");
    qputenv("TZ", "Europe/Berlin");
    tzset();
    const auto utc = [](int month, int day, int hour, int minute) {
        return QDateTime(QDate(2026, month, day), QTime(hour, minute), Qt::UTC);
    };
    ChargeWindow spring{QTime(1, 0), QTime(2, 30), 2, std::nullopt};
    EXPECT_EQ(spring.endOf(QDate(2026, 3, 29)), utc(3, 29, 1, 0)); // 03:00 CEST
    ChargeWindow late{QTime(2, 30), QTime(5, 0), 2, std::nullopt};
    EXPECT_EQ(late.startOf(QDate(2026, 3, 29)), utc(3, 29, 1, 0));
    EXPECT_EQ(late.nightHolding(utc(3, 29, 1, 30).toLocalTime()), QDate(2026, 3, 29));

    ChargeWindow autumn{QTime(2, 15), QTime(2, 45), 2, std::nullopt};
    EXPECT_EQ(autumn.startOf(QDate(2026, 10, 25)), utc(10, 25, 0, 15)); // 02:15 CEST
    EXPECT_EQ(autumn.nightHolding(utc(10, 25, 0, 20).toLocalTime()), QDate(2026, 10, 25));
    EXPECT_FALSE(autumn.nightHolding(utc(10, 25, 1, 20).toLocalTime()).isValid()); // 02:20 CET
    EXPECT_EQ(WallTime(QDate(2026, 10, 25), QTime(2, 30)), utc(10, 25, 0, 30));
    previous.isNull() ? qunsetenv("TZ") : qputenv("TZ", previous);
    tzset();
}

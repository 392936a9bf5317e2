#include "app/config_file.h"
#include "controls/charge_fixture.h"

namespace {
class ManagedChargeTest : public ChargeFixture {
protected:
    // Connects and waits for the first poll cycle.
    void Start(Shell& shell) {
        shell.Form_Load(QStringLiteral("127.0.0.1"));
        shell.form().Port = QString::number(server.port());
        Cycle(shell, [&] { shell.connectcmd_Click(); });
    }
    void Cycle(Shell& shell, const std::function<void()>& poll) {
        int cycles = 0;
        const auto c = QObject::connect(&shell, &Shell::pollCycleCompleted, [&] { ++cycles; });
        poll();
        EXPECT_TRUE(WaitUntil([&] { return cycles > 0; }));
        QObject::disconnect(c);
    }
    // The register writes the server received, "register=value".
    QStringList Writes() const { return server.writes(); }
    bool WaitWrites(qsizetype n) {
        return WaitUntil([&] { return Writes().size() >= n && !server.client()->bytesAvailable(); });
    }
};
} // namespace

TEST_F(ManagedChargeTest, AWindowAcrossMidnightStartsOncePerNightAndEndsAtItsTargetOrItsEnd) {
    Shell shell(clock, prompter);
    ChargeWindow window;
    window.from = QTime(23, 30);
    window.to = QTime(5, 30);
    window.powerKw = 3;
    window.targetSoc = 90;
    shell.charge().setWindow(window);
    Start(shell);
    shell.charge().Tick();
    EXPECT_TRUE(Writes().isEmpty());

    clock.set(QDateTime(QDate(2026, 12, 7), QTime(23, 30)));
    shell.charge().Tick();
    ASSERT_TRUE(WaitWrites(2));
    EXPECT_EQ(Writes(), Command(3000));
    EXPECT_EQ(shell.charge().state().endsAt, QDateTime(QDate(2026, 12, 8), QTime(5, 30)));

    // The target after midnight ends it, and a falling charge does not start it again that night.
    clock.set(QDateTime(QDate(2026, 12, 8), QTime(1, 0)));
    server.registers[60095] = 90;
    Cycle(shell, [&] { shell.Timer2_Timer(); });
    ASSERT_TRUE(WaitWrites(4)) << shell.form().txtStatus.toStdString() << Writes().join(' ').toStdString();
    server.registers[60095] = 50;
    Cycle(shell, [&] { shell.Timer2_Timer(); });
    shell.charge().Tick();
    EXPECT_EQ(Writes(), Command(3000) + Command(0));
    EXPECT_EQ(shell.charge().state().lastEndReason, QStringLiteral("target 90 % reached"));

    // The next night it starts again and ends with its window.
    clock.set(QDateTime(QDate(2026, 12, 8), QTime(23, 45)));
    shell.charge().Tick();
    ASSERT_TRUE(WaitWrites(6));
    clock.set(QDateTime(QDate(2026, 12, 9), QTime(5, 30)));
    shell.charge().Tick();
    ASSERT_TRUE(WaitWrites(8));
    EXPECT_EQ(Writes(), Command(3000) + Command(0) + Command(3000) + Command(0));
    ASSERT_TRUE(WaitUntil([&] { return shell.charge().state().phase == ChargePhase::Idle; }));
    EXPECT_EQ(shell.charge().state().lastEndReason, QStringLiteral("window ended"));
    EXPECT_TRUE(shell.form().txtStatus.contains(
        QStringLiteral("Managed charge end (window): 0 kW, 90 %, window ended")));

    const QStringList log = CrLfLines(QStringLiteral("ModbusClient control.log"));
    ASSERT_EQ(log.size(), 4);
    EXPECT_TRUE(log[0].endsWith(QStringLiteral(", window, start, 3 kW, 90 %, until 08/12/2026 05:30:00")))
        << log[0].toStdString();
    EXPECT_TRUE(log[1].endsWith(QStringLiteral(", window, end, 0 kW, 90 %, target 90 % reached")));

    // A client started inside the window starts it after its first poll cycle, unless that
    // night's window already ran (the state file says so).
    clock.set(QDateTime(QDate(2026, 12, 10), QTime(2, 0)));
    shell.charge().setWindow(ChargeWindow()); // the first client's window is not this one's
    Shell late(clock, prompter);
    late.charge().setWindow(window);
    server.requests.clear();
    Start(late);
    ASSERT_TRUE(WaitWrites(2));
    EXPECT_EQ(Writes(), Command(3000));
}

TEST_F(ManagedChargeTest, RefusedStartsWriteNothingAndATimeLimitEndsTheCharge) {
    Shell shell(clock, prompter);
    ChargeRequest request{QStringLiteral("mqtt"), 2.5, std::nullopt, 60};
    EXPECT_EQ(shell.charge().start(request).reason, QStringLiteral("not connected"));
    Start(shell);
    const QList<QPair<ChargeRequest, QString>> refused = {
        {{QStringLiteral("mqtt"), 5.5, std::nullopt, 60},
         QStringLiteral("power 5.5 kW is above the rated battery power of 5 kW")},
        {{QStringLiteral("mqtt"), 70, std::nullopt, 60}, QStringLiteral("power must be from 0 to 65.535 kW")},
        {{QStringLiteral("mqtt"), 2, std::nullopt, 721}, QStringLiteral("minutes must be from 1 to 720")},
        {{QStringLiteral("mqtt"), 2, 101, 60}, QStringLiteral("target must be from 0 to 100 %")},
        {{QStringLiteral("mqtt"), 2, 40, 60},
         QStringLiteral("target 40 % already reached (battery at 40 %)")},
    };
    for (const auto& [r, reason] : refused) {
        const ChargeStartResult result = shell.charge().start(r);
        EXPECT_FALSE(result.accepted);
        EXPECT_EQ(result.reason, reason);
    }
    EXPECT_TRUE(shell.form().txtStatus.contains(
        QStringLiteral("Managed charge refused (mqtt): 2 kW, no target, minutes must be from 1 to 720")));

    // A start while a poll read is outstanding waits for the end of the cycle.
    shell.Timer2_Timer();
    EXPECT_TRUE(shell.charge().start(request).accepted);
    ASSERT_TRUE(WaitWrites(2));
    const int reads = static_cast<int>(server.requests.size()) - 2;
    EXPECT_EQ(server.requests.at(reads - 1).mid(7, 3), Hex("03 EB 06"));

    // Running once the installation reads the power back; a new start replaces it without a 0 W
    // between, and its time limit ends it.
    const auto phase = [&] { return shell.charge().state().phase; };
    ASSERT_TRUE(WaitUntil([&] { return phase() == ChargePhase::Running; }));
    EXPECT_TRUE(shell.charge().start({QStringLiteral("ha"), 1, std::nullopt, 30}).accepted);
    EXPECT_EQ(shell.charge().state().source, QStringLiteral("ha"));
    ASSERT_TRUE(WaitUntil([&] { return phase() == ChargePhase::Running; }));
    clock.advance(30 * 60 * 1000);
    shell.charge().Tick();
    ASSERT_TRUE(WaitWrites(6));
    EXPECT_EQ(Writes(), Command(2500) + Command(1000) + Command(0));
    EXPECT_FALSE(shell.charge().state().active);
    ASSERT_TRUE(WaitUntil([&] { return phase() == ChargePhase::Idle; }));
    EXPECT_EQ(shell.charge().state().lastEndReason, QStringLiteral("time limit over"));
    ASSERT_TRUE(WaitUntil([&] { return shell.charge().state().phase == ChargePhase::Idle; }));
    // A stop writes 0 W even with nothing running here: the installation may charge regardless.
    shell.charge().stop(QStringLiteral("mqtt"));
    EXPECT_TRUE(shell.link().commandsQueued());
    ASSERT_TRUE(WaitWrites(8));
    EXPECT_EQ(Writes().mid(6), Command(0));
}

TEST_F(ManagedChargeTest, TheChargeSectionReadsItsCommentedExampleAndRefusesABadWindow) {
    SettingsFile settings;
    QString error;
    WriteAll(QStringLiteral("c.conf"),
             "[charge]\r\nwindow = 23:30-05:30 ; local\r\npower = 3.0 ; kW\r\ntarget_soc = 90\r\n");
    ASSERT_TRUE(ReadSettingsFile(QStringLiteral("c.conf"), &settings, &error)) << error.toStdString();
    const ChargeWindow& w = settings.charge.window;
    EXPECT_EQ(w.text(), QStringLiteral("23:30-05:30"));
    EXPECT_EQ(w.powerKw, 3.0);
    EXPECT_EQ(w.targetSoc, 90);
    EXPECT_EQ(settings.charge.endWaitMs, 10000);
    for (const char* bad :
         {"[charge]\nwindow = 02:00-02:00\npower = 3\n", "[charge]\nwindow = 2 to 5\npower = 3\n",
          "[charge]\nend_wait = 0\n", "poll = 70\n"}) {
        WriteAll(QStringLiteral("c.conf"), bad);
        EXPECT_FALSE(ReadSettingsFile(QStringLiteral("c.conf"), &settings, &error)) << bad;
        EXPECT_TRUE(error.endsWith(QStringLiteral(" in c.conf"))) << error.toStdString();
    }
    EXPECT_FALSE(ReadSettingsFile(QStringLiteral("missing.conf"), &settings, &error));
    EXPECT_TRUE(ReadSettingsFile(QString(), &settings, &error) && !settings.charge.window.enabled());
}

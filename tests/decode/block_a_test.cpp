#include "decode/block_a.h"
#include "decode/decode_fixture.h"
#include "support/run_error.h"

#include <QFile>

#include <algorithm>
#include <iterator>

using BlockA = DecodeFixture;

TEST_F(BlockA, FirstDecodeFillsIdentityFiguresStatusAndChainsBlockB) {
    form.RegisterDetailsText = QStringLiteral("60300 1\r\n"); // left from a controls read
    form.txtStatus = QStringLiteral("Connected to server at 127.0.0.1:502\r\n");
    DeviceIdentity identity;
    const QList<int> w = BlockAImage();
    DecodeBlockA(ctx, identity, ReadResponse(1, w));

    // Zero bytes of the serial are kept, not cut off; only the battery power is grouped.
    EXPECT_EQ(Identity(),
              (QStringList{QStringLiteral("TX0001") + QString(14, QChar(0)), "V1.3",
                           "ARM V01.02 DSP V03.04 BMS V056", "V2.1", "6000", "68,928 W", "10,240 kWh"}));
    EXPECT_EQ(identity.RatedBatteryPower, 68928);

    EXPECT_EQ(form.BatterySize, QStringLiteral("10240"));
    EXPECT_EQ(form.BatteryPercent, QStringLiteral("52"));
    EXPECT_EQ(form.CurrentLevelKWh, QStringLiteral("5324.8"));
    EXPECT_EQ(form.Capacity, QStringLiteral("5,325 kWh"));

    // A fresh listing of the 96 words.
    const QStringList listing = form.RegisterDetailsText.split(QStringLiteral("\r\n"));
    ASSERT_EQ(listing.size(), 97);
    EXPECT_EQ(listing[0], QStringLiteral("60000 %1").arg(w[0]));
    EXPECT_EQ(listing[95], QStringLiteral("60095 52"));
    EXPECT_EQ(listing[96], QString());

    // The pane starts afresh with the 95 the message has always said.
    EXPECT_EQ(form.txtStatus, QStringLiteral("Polled 95 registers at ") + Now() + QStringLiteral("\r\n"));
    EXPECT_EQ(form.txtStatusSelStart, form.txtStatus.size());
    EXPECT_EQ(reads, (QList<QStringList>{{QStringLiteral("60166"), QStringLiteral("24")}}));
}

TEST_F(BlockA, IdentityIsTakenOnceButBatteryFiguresEveryTime) {
    DeviceIdentity identity;
    DecodeBlockA(ctx, identity, ReadResponse(1, BlockAImage()));
    const QStringList first = Identity();

    QList<int> w = BlockAImage();
    PutText(w, 0, QByteArray("ZZ9999ZZ9999ZZ9999ZZ"));
    w[10] = 0x0909;
    w[26] = 0x0909;
    w[27] = 40000; // would overflow, but the identity step is skipped
    w[28] = 1;
    w[29] = 40000;
    w[32] = 20000;
    clock.advance(10000);
    DecodeBlockA(ctx, identity, ReadResponse(2, w));

    EXPECT_EQ(Identity(), first);
    EXPECT_EQ(form.BatterySize, QStringLiteral("20000"));
    EXPECT_EQ(form.CurrentLevelKWh, QStringLiteral("10400"));
    EXPECT_EQ(form.Capacity, QStringLiteral("10,400 kWh"));
    EXPECT_EQ(form.txtStatus, QStringLiteral("Polled 95 registers at 07/12/2026 21:04:15\r\n"));
    EXPECT_EQ(reads.size(), 2);
}

TEST_F(BlockA, StateOfChargeLineOnlyWhenTheChargeChanged) {
    const struct {
        QList<int> readings;
        QStringList logged; // the charge at the end of each log line
    } cases[] = {
        {{55, 55}, {"55"}},
        {{55, 56}, {"55", "56"}},
        {{50, 50, 51}, {"50", "51"}},
        // An empty charge counts as 0: no line, and the decode still runs to its end.
        {{0}, {}},
    };
    for (const auto& c : cases) {
        form = Form();
        reads.clear();
        QFile::remove(form.BatterySoC);
        DeviceIdentity identity;
        for (int charge : c.readings) {
            QList<int> w = BlockAImage();
            w[95] = charge;
            DecodeBlockA(ctx, identity, ReadResponse(1, w));
        }
        const QString last = QString::number(c.readings.last());
        EXPECT_EQ(form.BatteryPercent, last == QStringLiteral("0") ? QString() : last);
        EXPECT_EQ(reads.size(), c.readings.size());
        if (c.logged.isEmpty()) {
            EXPECT_FALSE(QFile::exists(form.BatterySoC));
            EXPECT_EQ(form.CurrentLevelKWh, QStringLiteral("0"));
            EXPECT_EQ(form.Capacity, QStringLiteral("0 kWh"));
            continue;
        }
        QStringList expected;
        for (const QString& charge : c.logged) {
            expected << Now() + QLatin1Char(' ') + charge;
        }
        EXPECT_EQ(CrLfLines(form.BatterySoC), expected) << c.readings.size();
    }
}

TEST_F(BlockA, PowerSplitsIntoChargeAndDischarge) {
    const struct {
        int words[4];      // 60071 to 60074
        QStringList split; // PVCharge, PVDischarge, GridCharge, GridDischarge
    } cases[] = {
        {{65535, 65436, 0, 300}, {"100", "0", "0", "300"}},
        {{0, 0, 65535, 0}, {"0", "0", "65536", "0"}},
        // Only an all-ones high word makes the value negative.
        {{1, 5, 65534, 7}, {"0", "5", "0", "7"}},
        {{65535, 65535, 0, 0}, {"1", "0", "0", "0"}},
    };
    DeviceIdentity identity;
    for (const auto& c : cases) {
        QList<int> w = BlockAImage();
        std::copy(std::begin(c.words), std::end(c.words), w.begin() + 71);
        DecodeBlockA(ctx, identity, ReadResponse(1, w));
        EXPECT_EQ((QStringList{form.PVCharge, form.PVDischarge, form.GridCharge, form.GridDischarge}),
                  c.split);
    }
}

TEST_F(BlockA, OverflowEndsTheDecodeAtItsStepWithoutTheChainedRead) {
    // First in the identity step (rated PV power), then, with the identity known, in the
    // capacity that every decode reads.
    const struct {
        int word;
        QString serial;
    } cases[] = {{27, QString()}, {31, QStringLiteral("known")}};
    for (const auto& c : cases) {
        form = Form();
        form.SNum = c.serial;
        form.BatterySize = QStringLiteral("1");
        form.txtStatus = QStringLiteral("before\r\n");
        reads.clear();
        QList<int> w = BlockAImage();
        w[c.word] = 32768;
        DeviceIdentity identity;
        try {
            DecodeBlockA(ctx, identity, ReadResponse(1, w));
            ADD_FAILURE() << "no overflow at word " << c.word;
        } catch (const RunError& e) {
            EXPECT_EQ(e.number, 6);
        }
        EXPECT_EQ(form.SNum, c.serial);
        EXPECT_EQ(form.PVPower, QStringLiteral("0"));
        EXPECT_EQ(form.BatterySize, QStringLiteral("1"));
        EXPECT_EQ(form.BatteryPercent, QString());
        EXPECT_EQ(form.txtStatus, QStringLiteral("before\r\n"));
        EXPECT_TRUE(reads.isEmpty());
        EXPECT_FALSE(QFile::exists(form.BatterySoC));
        // The listing, the step before, was already made.
        EXPECT_TRUE(form.RegisterDetailsText.startsWith(QStringLiteral("60000 ")));
    }
}

// A state of charge beyond 100 % or a capacity beyond 1 MWh is no figure for the files, the store
// or the broker, nor a log line; said once per run of them.
TEST_F(BlockA, ImplausibleChargeAndCapacityAreLeftOutAndSaidOncePerRun) {
    DeviceIdentity identity;
    const int polls[][3] = {{55, 0, 10240},       {16378, 0, 10240}, {16378, 0, 10240}, {56, 0x4D11, 0x904E},
                            {56, 0x4D11, 0x904E}, {101, 0, 10240},   {57, 0, 10240}};
    for (const auto& p : polls) {
        QList<int> w = BlockAImage();
        w[95] = p[0];
        w[31] = p[1];
        w[32] = p[2];
        DecodeBlockA(ctx, identity, ReadResponse(1, w));
        EXPECT_EQ(form.BatteryPercent.isEmpty(), p[0] > 100) << p[0];
        EXPECT_EQ(form.BatterySize.isEmpty(), p[1] != 0) << p[0];
        EXPECT_EQ(form.CurrentLevelKWh.isEmpty(), p[0] > 100 || p[1] != 0) << p[0];
    }
    EXPECT_EQ(LogEntries(), 3);
    EXPECT_TRUE(ReadAll(QStringLiteral("ModbusClient errors.log"))
                    .contains("State of charge 16378 % is not plausible: not recorded"));
    EXPECT_EQ(ReadAll(form.BatterySoC).count('\n'), 3); // 55, 56, 57
}

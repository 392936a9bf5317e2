#include "broker_fixture.h"

#include "publish/broker_memory.h"
#include "support/file_failures.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

class FiguresTest : public PublishTest {
protected:
    void Start() {
        ASSERT_TRUE(broker.start());
        subscriber = std::make_unique<Subscriber>(broker.port());
        Publish(On(broker.port()));
        Connect();
    }
    // One more cycle a minute later with the PV charge lifetime counter at wh.
    void CycleAt(qint64 wh) {
        clock.set(clock.now().addSecs(60));
        server.registers[60168] = static_cast<int>(wh >> 16);
        server.registers[60169] = static_cast<int>(wh & 0xffff);
        ASSERT_TRUE(Cycle());
    }
    // A figure as published so far, in kWh; each cycle's state is waited for.
    QList<double> Published(const char* key, qsizetype count) {
        EXPECT_TRUE(WaitUntil([&] { return subscriber->on(prefix + "/state").size() >= count; }));
        QList<double> values;
        for (const QByteArray& payload : subscriber->on(prefix + "/state")) {
            values.append(QJsonDocument::fromJson(payload).object().value(QLatin1String(key)).toDouble());
        }
        return values;
    }
    int Entries(const char* text) const {
        return static_cast<int>(ReadAll(QStringLiteral("ModbusClient errors.log")).count(text));
    }

    Broker broker{"allow_anonymous true\n"};
    std::unique_ptr<Subscriber> subscriber;
    FileFailure failure;
};

TEST_F(FiguresTest, ACounterThatGoesBackOrJumpsIsNotPublishedUntilANewLevelHolds) {
    shell.form().NightPVChargeLife = QStringLiteral("1000");
    Start();
    CycleAt(1510);
    CycleAt(0);    // one bad read
    CycleAt(1520); // and back
    CycleAt(1520000);
    CycleAt(1530); // a jump of 1000 times, and back
    EXPECT_EQ(Published("pv_charge_total", 6), (QList<double>{1.5, 1.51, 1.51, 1.52, 1.52, 1.53}));
    EXPECT_EQ(Published("pv_charge_today", 6), (QList<double>{0.5, 0.51, 0.51, 0.52, 0.52, 0.53}));
    // Each run of rejections is said once, with the raw value; the classic figures keep it.
    EXPECT_EQ(Entries("PV charge lifetime counter read 0 Wh, below the last accepted 1510 Wh: not used"), 1);
    EXPECT_EQ(Entries("PV charge lifetime counter read 1520000 Wh, more than the installation can have moved "
                      "since the last accepted 1520 Wh: not used"),
              1);

    // A drop that stays (a replaced meter) is taken after five cycles, and said.
    for (const qint64 wh : {40, 40, 41, 41, 42}) {
        CycleAt(wh);
        EXPECT_EQ(shell.form().PVChargeLife, QString::number(wh));
    }
    EXPECT_EQ(Published("pv_charge_total", 11).mid(6), (QList<double>{1.53, 1.53, 1.53, 1.53, 0.042}));
    EXPECT_EQ(Entries("PV charge lifetime counter read 40 Wh"), 1);
    EXPECT_EQ(Entries("has read a new level for 5 cycles: 42 Wh accepted in place of 1530 Wh"), 1);
}

TEST_F(FiguresTest, ABlankSerialNamesNothingUntilAValidOneIsRead) {
    const QMap<int, int> valid = server.registers;
    for (int i = 60000; i < 60010; ++i) {
        server.registers[i] = 0x2020; // 20 blanks
    }
    Start();
    ASSERT_TRUE(Cycle());
    server.registers = valid;
    ASSERT_TRUE(Cycle());
    ASSERT_TRUE(WaitUntil([&] { return !subscriber->on(prefix + "/state").isEmpty(); }));
    for (auto i = subscriber->received.cbegin(); i != subscriber->received.cend(); ++i) {
        EXPECT_FALSE(i.key().contains("unknown")) << i.key().toStdString();
    }
    EXPECT_EQ(Entries("The serial number read (\"                    \") names no device"), 1);
    EXPECT_EQ(ReadAnnounced().serial, QStringLiteral("TX2026SN0042"));
}

TEST_F(FiguresTest, AwayAtStartUpTheRememberedDeviceSaysOfflineAndEachErrorThenANewSerialClearsIt) {
    const QByteArray old = "modbusclient/OLD0001";
    WriteAnnounced({QStringLiteral("OLD0001"), QString::fromLatin1(old)}, &failure);
    ASSERT_TRUE(broker.start());
    subscriber = std::make_unique<Subscriber>(broker.port());
    Publish(On(broker.port()));
    ASSERT_TRUE(WaitUntil([&] { return !subscriber->on(old + "/availability").isEmpty(); }));
    EXPECT_EQ(subscriber->on(old + "/availability").last(), "offline");
    for (int count = 1; count <= 3; ++count) {
        shell.log().ErrorHandle(QStringLiteral("10061"), QStringLiteral("10"), QStringLiteral("Test"));
        ASSERT_TRUE(WaitUntil([&] { return subscriber->last(old + "/errors").value("count") == count; }));
    }
    // The installation is back with another battery: the old device goes from Home Assistant.
    Connect();
    const QByteArray config = "homeassistant/sensor/OLD0001/pv_charge_total/config";
    ASSERT_TRUE(WaitUntil([&] { return !subscriber->on(config).isEmpty(); }));
    EXPECT_EQ(subscriber->on(config).last(), "(null)");
    EXPECT_EQ(Entries("The serial number is now TX2026SN0042, no longer OLD0001"), 1);
    EXPECT_EQ(ReadAnnounced().prefix, QString::fromLatin1(prefix));
}

class EnergyUnitTest : public InTempDir {};

TEST_F(EnergyUnitTest, AChangedUnitIsRefusedUntilTheRememberedOneIsDeleted) {
    QString error;
    EXPECT_TRUE(RememberEnergyUnit(false, &error));
    EXPECT_TRUE(RememberEnergyUnit(false, &error));
    EXPECT_FALSE(RememberEnergyUnit(true, &error));
    EXPECT_TRUE(error.startsWith("energy_unit is kWh, but the counters were published in Wh until now"));
    QFile::remove(QString::fromLatin1(kEnergyUnitFile));
    EXPECT_TRUE(RememberEnergyUnit(true, &error));
}

} // namespace

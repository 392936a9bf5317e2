#include "app/main_window.h"
#include "app/shell.h"
#include "common/test_support.h"
#include "e2e/e2e_support.h"
#include "support/clock.h"
#include "support/prompter.h"

#include <QApplication>
#include <QLineEdit>
#include <QModbusReply>
#include <QModbusTcpClient>
#include <QPushButton>
#include <QTest>

namespace {
// The registers as the simulator holds them, read by Qt's own Modbus client.
QList<quint16> ReadBack(quint16 port, int address, int count) {
    QModbusTcpClient reader;
    reader.setConnectionParameter(QModbusDevice::NetworkAddressParameter, QStringLiteral("127.0.0.1"));
    reader.setConnectionParameter(QModbusDevice::NetworkPortParameter, port);
    if (!reader.connectDevice() ||
        !WaitUntil([&] { return reader.state() == QModbusDevice::ConnectedState; })) {
        return {};
    }
    QModbusReply* reply = reader.sendReadRequest(
        QModbusDataUnit(QModbusDataUnit::HoldingRegisters, address, quint16(count)), 1);
    if (reply == nullptr || !WaitUntil([&] { return reply->isFinished(); })) {
        return {};
    }
    const QList<quint16> values =
        reply->error() == QModbusDevice::NoError ? reply->result().values() : QList<quint16>();
    delete reply;
    return values;
}
} // namespace

class Window : public InTempDir {};

TEST_F(Window, ConnectControlsAndChargeAgainstTheSimulator) {
    Program sim(QStringLiteral(E2E_SIM), {QStringLiteral("--port"), QStringLiteral("0")});
    const quint16 port = sim.listeningPort();
    ASSERT_NE(port, 0);

    SystemClock clock;
    RecordingPrompter prompter;
    Shell shell(clock, prompter);
    shell.Form_Load(QStringLiteral("127.0.0.1"));
    MainWindow window(shell);
    window.show();
    const auto field = [&](const char* name) {
        return window.findChild<QLineEdit*>(QString::fromLatin1(name));
    };
    field("Port")->clear();
    QTest::keyClicks(field("Port"), QString::number(port));
    window.findChild<QPushButton*>(QStringLiteral("connectcmd"))->click();
    ASSERT_TRUE(WaitUntil([&] { return field("SNum")->text() == QStringLiteral("BSIM-2026-0000-00042"); }));
    EXPECT_EQ(field("HW")->text(), QStringLiteral("V1.3"));
    EXPECT_EQ(field("BatteryPower")->text(), QStringLiteral("5,000 W"));
    // One read at a time: "Controls" waits for the poll cycle to end.
    ASSERT_TRUE(
        WaitUntil([&] { return shell.form().txtStatus.contains(QStringLiteral("Polled 24 registers")); }));

    window.findChild<QPushButton*>(QStringLiteral("showcmd"))->click();
    QLineEdit* direction = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == QStringLiteral("Controlsfrm")) {
            direction = w->findChild<QLineEdit*>(QStringLiteral("F60311")); // shows register 60310
        }
    }
    ASSERT_NE(direction, nullptr);
    EXPECT_TRUE(WaitUntil([&] { return direction->text() == QStringLiteral("1"); }));

    field("ChargeRate")->clear();
    QTest::keyClicks(field("ChargeRate"), QStringLiteral("2.5"));
    window.findChild<QPushButton*>(QStringLiteral("ForceChargecmd"))->click();
    EXPECT_EQ(prompter.messages.value(0), QStringLiteral("Forced charge request sent: 2.5 kW"));
    // 60310 charge, 60311 and 60312 as they were, 60314 the power in watts.
    const QList<quint16> expected{0, 100, 0, 0, 2500};
    EXPECT_TRUE(WaitUntil([&] { return ReadBack(port, 60310, 5) == expected; }));
}

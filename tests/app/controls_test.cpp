#include "app/main_window.h"
#include "app/shell.h"
#include "common/fake_server.h"
#include "common/test_support.h"
#include "controls/forced_charge.h"
#include "support/clock.h"
#include "support/prompter.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>

namespace {
class ControlsTest : public InTempDir {
protected:
    SettableClock clock{QDateTime(QDate(2026, 3, 14), QTime(12, 0, 0))};
    RecordingPrompter prompter;
};

QWidget* TopLevel(const QString& name) {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == name) {
            return w;
        }
    }
    return nullptr;
}
} // namespace

TEST_F(ControlsTest, TheEditorSuspendsPollingAndClosesItselfAfterAMinute) {
    Shell shell(clock, prompter);
    shell.Form_Load(QString());
    shell.Check1_Click(true);
    MainWindow window(shell);
    window.findChild<QPushButton*>(QStringLiteral("showcmd"))->click();

    QWidget* editor = TopLevel(QStringLiteral("Controlsfrm"));
    ASSERT_NE(editor, nullptr);
    EXPECT_TRUE(editor->isVisible());
    EXPECT_EQ(editor->windowTitle(), QStringLiteral("Form1"));
    EXPECT_EQ(editor->findChild<QLineEdit*>(QStringLiteral("F60301"))->text(), QStringLiteral("11"));
    EXPECT_FALSE(shell.timer1().isActive());
    EXPECT_FALSE(shell.timer2().isActive());

    for (int s = 0; s < 60; ++s) {
        shell.Controlsfrm_Timer2_Timer();
    }
    EXPECT_EQ(editor->findChild<QLineEdit*>(QStringLiteral("Autoclose"))->text(), QStringLiteral("540"));
    shell.Controlsfrm_Timer1_Timer();
    EXPECT_FALSE(editor->isVisible());
    EXPECT_TRUE(shell.timer1().isActive());
    EXPECT_TRUE(shell.timer2().isActive());

    // Without "Poll" only the minute timer comes back; a countdown text that is no number stays.
    shell.Check1_Click(false);
    shell.showcmd_Click();
    EXPECT_TRUE(editor->isVisible());
    EXPECT_EQ(shell.controls().form().Autoclose, QStringLiteral("600"));
    shell.controls().form().Autoclose = QStringLiteral("soon");
    shell.Controlsfrm_Timer2_Timer();
    EXPECT_EQ(shell.controls().form().Autoclose, QStringLiteral("soon"));
    window.close();
    EXPECT_FALSE(editor->isVisible());
    EXPECT_FALSE(shell.timer1().isActive());
    EXPECT_TRUE(shell.timer2().isActive());
}

TEST_F(ControlsTest, ForcedChargeWritesOnlyTheTypedPower) {
    FakeServer server;
    ASSERT_TRUE(server.listen());
    Shell shell(clock, prompter);
    shell.Form_Load(QStringLiteral("127.0.0.1"));
    Form& f = shell.form();
    f.Port = QString::number(server.port());
    f.StopStart = QStringLiteral("Start"); // no poll in between

    f.ChargeRate = QStringLiteral("2.5");
    shell.ForceChargecmd_Click();
    EXPECT_EQ(prompter.messages.takeLast(), QStringLiteral("not connected"));
    shell.connectcmd_Click();
    ASSERT_TRUE(WaitUntil([&] { return f.isConnected; }));

    shell.ForceChargecmd_Click();
    ASSERT_TRUE(WaitUntil([&] { return server.requests.size() == 2; }));
    EXPECT_EQ(server.requests[0], Hex("00 01 00 00 00 06 01 06 EB 96 00 00"));
    EXPECT_EQ(server.requests[1], Hex("00 02 00 00 00 06 01 06 EB 9A 09 C4"));
    EXPECT_EQ(prompter.messages.takeLast(), QStringLiteral("Forced charge request sent: 2.5 kW"));

    // Refused texts send nothing: the next accepted press follows with the next two ids.
    for (const char* bad : {"70", "-1", "-0.0001", "65.5355", "kW 2", "", "1e999"}) {
        f.ChargeRate = QString::fromLatin1(bad);
        shell.ForceChargecmd_Click();
        EXPECT_EQ(prompter.messages.takeLast(), QString::fromLatin1(kChargeRateMessage)) << bad;
    }
    const struct {
        const char* text;
        const char* watts;
        const char* shown;
    } accepted[] = {{"2.5 kW", "09 C4", "2.5"},
                    {"0.0025", "00 02", "0.0025"},
                    {"0.0035", "00 04", "0.0035"},
                    {"65.535", "FF FF", "65.535"}};
    int tid = 3;
    for (const auto& a : accepted) {
        f.ChargeRate = QString::fromLatin1(a.text);
        shell.ForceChargecmd_Click();
        ASSERT_TRUE(WaitUntil([&] { return server.requests.size() == tid + 1; })) << a.text;
        EXPECT_EQ(server.requests[tid - 1].left(2),
                  QByteArray::fromHex(QByteArray::number(tid, 16).rightJustified(4, '0')));
        EXPECT_EQ(server.requests[tid - 1].mid(8), Hex("EB 96 00 00"));
        EXPECT_EQ(server.requests[tid].mid(8), Hex("EB 9A ") + Hex(a.watts)) << a.text;
        EXPECT_EQ(prompter.messages.takeLast(),
                  QStringLiteral("Forced charge request sent: %1 kW").arg(QString::fromLatin1(a.shown)));
        tid += 2;
    }
    EXPECT_EQ(server.registers.value(60314), 65535);
    EXPECT_EQ(server.registers.value(60310), 0);
}

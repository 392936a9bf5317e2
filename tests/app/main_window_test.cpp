#include "app/main_window.h"
#include "app/message_box_prompter.h"
#include "app/shell.h"
#include "common/test_support.h"
#include "support/clock.h"
#include "support/prompter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextCursor>
#include <QTimer>

namespace {
class MainWindowTest : public InTempDir {
protected:
    SettableClock clock{QDateTime(QDate(2026, 3, 14), QTime(12, 0, 0))};
    RecordingPrompter prompter;
};
} // namespace

TEST_F(MainWindowTest, EveryControlCanBeFoundByItsName) {
    Shell shell(clock, prompter);
    shell.Form_Load(QString());
    MainWindow window(shell);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Modbus TCP Client"));
    const QStringList names =
        QStringLiteral("IP Port Pollrate Start Number ChargeRate BatterySoC BatteryToday RegisterDetails "
                       "WinState BatteryCapacity Protocol BatteryPower PVPower Capacity Update SNum HW FW "
                       "txtStatus lstRegisters SelType StopStart showcmd ForceChargecmd connectcmd Command1 "
                       "Check1 Image1 Versionlbl BatterySoCView BatteryFileView RegistersView Label1 Label2 "
                       "Label3 Label4 Label5 Label6 Label7 Label8 Label9 Label10 Label13 Label15")
            .split(QLatin1Char(' '));
    for (const QString& name : names) {
        auto* w = window.findChild<QWidget*>(name);
        ASSERT_NE(w, nullptr) << name.toStdString();
        EXPECT_EQ(w->accessibleName(), name);
        EXPECT_FALSE(w->accessibleDescription().isEmpty()) << name.toStdString();
    }
    EXPECT_EQ(window.findChild<QLineEdit*>(QStringLiteral("Start"))->toolTip(),
              QStringLiteral("Starting register"));
    EXPECT_EQ(window.findChild<QLineEdit*>(QStringLiteral("Number"))->toolTip(),
              QStringLiteral("Number of registers"));
    EXPECT_EQ(window.findChild<QLabel*>(QStringLiteral("Image1"))->toolTip(),
              QStringLiteral("Connected state"));
    EXPECT_EQ(window.findChild<QPushButton*>(QStringLiteral("connectcmd"))->text(),
              QStringLiteral("Connect"));
    EXPECT_EQ(window.findChild<QLabel*>(QStringLiteral("Versionlbl"))->text(), shell.form().Versionlbl);
    EXPECT_EQ(window.findChild<QComboBox*>(QStringLiteral("SelType"))->currentText(),
              QStringLiteral("Manual-T"));
}

TEST_F(MainWindowTest, ViewFollowsTheFormAndEditsGoBack) {
    Shell shell(clock, prompter);
    shell.Form_Load(QString());
    MainWindow window(shell);
    window.show();
    auto* ip = window.findChild<QLineEdit*>(QStringLiteral("IP"));
    auto* soc = window.findChild<QLineEdit*>(QStringLiteral("BatterySoC"));

    // Without a settings file the window is tall and shows the file names.
    EXPECT_TRUE(soc->isVisible());
    EXPECT_EQ(window.height(), window.twipsToPixels(kExpandedHeight));
    EXPECT_EQ(window.width(), window.twipsToPixels(kWindowWidth));
    QTest::mouseDClick(&window, Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
    EXPECT_EQ(shell.form().Height, kCompactHeight);
    EXPECT_FALSE(soc->isVisible());
    EXPECT_EQ(window.height(), window.twipsToPixels(kCompactHeight));

    ip->clear();
    QTest::keyClicks(ip, QStringLiteral("10.0.0.5"));
    EXPECT_EQ(shell.form().IP, QStringLiteral("10.0.0.5"));

    shell.form().SNum = QStringLiteral("SN42");
    shell.status().AppendStatusLine(QStringLiteral("hello"));
    Q_EMIT shell.changed();
    EXPECT_EQ(window.findChild<QLineEdit*>(QStringLiteral("SNum"))->text(), QStringLiteral("SN42"));
    // A decoded text shows from its start, however long.
    EXPECT_EQ(window.findChild<QLineEdit*>(QStringLiteral("SNum"))->cursorPosition(), 0);
    EXPECT_TRUE(window.findChild<QPlainTextEdit*>(QStringLiteral("txtStatus"))
                    ->toPlainText()
                    .contains(QStringLiteral("hello")));

    // CR LF line ends count twice in the form and once in the pane: the caret at the form's end
    // is the pane's end, and an unchanged pane is not set again (that would jump its scroll bar).
    auto* pane = window.findChild<QPlainTextEdit*>(QStringLiteral("txtStatus"));
    shell.form().txtStatus = QStringLiteral("one\r\ntwo\r\n");
    shell.status().CaretToEnd();
    Q_EMIT shell.changed();
    EXPECT_EQ(pane->toPlainText(), QStringLiteral("one\ntwo\n"));
    EXPECT_EQ(pane->textCursor().position(), 8);
    pane->moveCursor(QTextCursor::Start);
    Q_EMIT shell.changed();
    EXPECT_EQ(pane->textCursor().position(), 0);

    // The "Poll" box goes through the shell, which may refuse it.
    shell.form().Pollrate = QStringLiteral("x");
    auto* check = window.findChild<QCheckBox*>(QStringLiteral("Check1"));
    QTest::mouseClick(check, Qt::LeftButton);
    EXPECT_FALSE(check->isChecked());
    EXPECT_FALSE(shell.timer1().isActive());
    EXPECT_EQ(prompter.messages.size(), 1);

    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("StopStart")), Qt::LeftButton);
    EXPECT_EQ(window.findChild<QPushButton*>(QStringLiteral("StopStart"))->text(), QStringLiteral("Start"));
}

TEST_F(MainWindowTest, MessageBoxesDoNotPileUpOrBlock) {
    MessageBoxPrompter boxes;
    boxes.message(QStringLiteral("check the server"));
    boxes.message(QStringLiteral("check the server"));
    EXPECT_EQ(boxes.openCount(), 1);
    boxes.message(QStringLiteral("not connected"));
    EXPECT_EQ(boxes.openCount(), 2);
    const auto open = QApplication::topLevelWidgets();
    for (QWidget* w : open) {
        if (auto* box = qobject_cast<QMessageBox*>(w)) {
            box->accept();
        }
    }
    EXPECT_TRUE(WaitUntil([&] { return boxes.openCount() == 0; }));
    boxes.message(QStringLiteral("check the server"));
    EXPECT_EQ(boxes.openCount(), 1);
}

TEST_F(MainWindowTest, SizeFollowsTheRealWindowABoxHoldsItAndClosingItEndsTheProgram) {
    MessageBoxPrompter boxes;
    Shell shell(clock, boxes);
    shell.Form_Load(QString());
    shell.form().StopStart = QStringLiteral("Start"); // the minute tick polls nothing
    MainWindow window(shell);
    boxes.setWindow(&window);
    EndProgramWithWindow(window);
    window.show();
    const int compact = window.twipsToPixels(kCompactHeight);
    // Captions and the picture pass their double clicks on, yet only the background toggles.
    for (const char* name : {"Label3", "Image1", "Versionlbl"}) {
        QTest::mouseDClick(window.findChild<QWidget*>(QString::fromLatin1(name)), Qt::LeftButton);
    }
    EXPECT_EQ(shell.form().Height, kExpandedHeight);
    // Resized by hand, the window goes back to compact by the minute tick and by the toggle.
    QTest::mouseDClick(&window, Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
    window.resize(window.width() + 40, compact + 60);
    shell.Timer2_Timer();
    EXPECT_EQ(window.size(), QSize(window.twipsToPixels(kWindowWidth), compact));
    window.resize(window.width(), compact + 60);
    QTest::mouseDClick(&window, Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
    EXPECT_EQ(window.height(), compact);
    // "not connected" holds the window until answered, yet not by Qt's modality (see the prompter).
    auto* stopStart = window.findChild<QPushButton*>(QStringLiteral("StopStart"));
    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("Command1")), Qt::LeftButton);
    auto* box = window.findChild<QMessageBox*>(QStringLiteral("message"));
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(QGuiApplication::modalWindow(), nullptr);
    QTest::mouseClick(stopStart, Qt::LeftButton);
    EXPECT_EQ(stopStart->text(), QStringLiteral("Start"));
    box->accept();
    EXPECT_TRUE(WaitUntil([&] {
        QTest::mouseClick(stopStart, Qt::LeftButton);
        return stopStart->text() == QStringLiteral("Stop");
    }));
    // With a box on screen, closing the window ends the program, Qt's last-window quit left out.
    shell.Command1_Click();
    QGuiApplication::setQuitOnLastWindowClosed(false);
    QTimer::singleShot(0, &window, [&] { window.close(); });
    QTimer::singleShot(10000, &window, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(QApplication::exec(), 0);
}

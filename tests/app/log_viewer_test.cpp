#include "app/log_viewer.h"
#include "app/main_window.h"
#include "app/shell.h"
#include "common/test_support.h"
#include "support/clock.h"
#include "support/prompter.h"

#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

namespace {
class LogViewerTest : public InTempDir {
protected:
    QList<LogViewer*> viewers() const { return window.findChildren<LogViewer*>(QStringLiteral("LogViewer")); }
    void doubleClick(const char* label) {
        QTest::mouseDClick(window.findChild<QLabel*>(QString::fromLatin1(label)), Qt::LeftButton);
    }
    static bool AtEnd(const LogViewer* v) {
        const QScrollBar* bar = v->view()->verticalScrollBar();
        return bar->maximum() > 0 && bar->value() == bar->maximum() && v->view()->textCursor().atEnd();
    }
    static QByteArray Lines(int from, int to) {
        QByteArray bytes;
        for (int i = from; i < to; ++i) {
            bytes += "line " + QByteArray::number(i) + "\r\n";
        }
        return bytes;
    }

    SettableClock clock{QDateTime(QDate(2026, 3, 14), QTime(12, 0, 0))};
    RecordingPrompter prompter;
    Shell shell{clock, prompter};
    MainWindow window{shell};
};
} // namespace

TEST_F(LogViewerTest, OnlyAnExistingFileOpensAtItsEnd) {
    shell.Form_Load(QString());
    window.show();
    // The registers field starts empty, the battery file is a folder, the log is missing.
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("Battery.txt")));
    doubleClick("RegistersView");
    doubleClick("BatteryFileView");
    doubleClick("BatterySoCView");
    EXPECT_TRUE(viewers().isEmpty());
    EXPECT_EQ(shell.form().Height, kExpandedHeight);

    WriteAll(QStringLiteral("BatterySoC.log"), Lines(0, 300));
    doubleClick("BatterySoCView");
    ASSERT_EQ(viewers().size(), 1);
    LogViewer* v = viewers()[0];
    EXPECT_TRUE(v->isWindow());
    EXPECT_TRUE(v->windowTitle().contains(QStringLiteral("BatterySoC.log")));
    EXPECT_TRUE(v->windowState() & Qt::WindowMaximized);
    EXPECT_TRUE(v->view()->isReadOnly());
    EXPECT_EQ(v->view()->toPlainText(), QString::fromLatin1(Lines(0, 300)).replace("\r\n", "\n"));
    EXPECT_TRUE(WaitUntil([&] { return AtEnd(v); }));
    // The label took the double click; the main window kept its size. A second one opens another.
    EXPECT_EQ(shell.form().Height, kExpandedHeight);
    doubleClick("BatterySoCView");
    EXPECT_EQ(viewers().size(), 2);
}

TEST_F(LogViewerTest, FollowsAGrowingAndAReplacedFile) {
    WriteAll(QStringLiteral("soc.log"), Lines(0, 200));
    LogViewer* v = LogViewer::Open(QStringLiteral("soc.log"), &window);
    ASSERT_NE(v, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return AtEnd(v); }));
    QSignalSpy updated(v, &LogViewer::updated);

    QFile log(QStringLiteral("soc.log"));
    ASSERT_TRUE(log.open(QIODevice::Append));
    log.write("line 200\r\nline 2"); // the second line not yet finished
    log.flush();
    ASSERT_TRUE(updated.wait());
    log.write("01\r\n");
    log.close();
    ASSERT_TRUE(
        WaitUntil([&] { return v->view()->toPlainText().endsWith(QStringLiteral("line 200\nline 201\n")); }));
    EXPECT_TRUE(AtEnd(v));

    // Replaced by a rename, as the battery state file is; then the new file grows.
    WriteAll(QStringLiteral("soc.new"), "fresh\r\n");
    QFile::remove(QStringLiteral("soc.log"));
    ASSERT_TRUE(QFile::rename(QStringLiteral("soc.new"), QStringLiteral("soc.log")));
    ASSERT_TRUE(WaitUntil([&] { return v->view()->toPlainText() == QStringLiteral("fresh\n"); }));
    ASSERT_TRUE(log.open(QIODevice::Append));
    log.write("more\r\n");
    log.close();
    EXPECT_TRUE(WaitUntil([&] { return v->view()->toPlainText() == QStringLiteral("fresh\nmore\n"); }));
}

TEST_F(LogViewerTest, ALargeFileShowsOnlyItsLastWholeLines) {
    WriteAll(QStringLiteral("big.log"), Lines(0, 300000)); // about 4 MB
    LogViewer* v = LogViewer::Open(QStringLiteral("big.log"), &window);
    ASSERT_NE(v, nullptr);
    const QString text = v->view()->toPlainText();
    EXPECT_LE(text.size(), LogViewer::kTailBytes);
    EXPECT_TRUE(text.startsWith(QStringLiteral("line ")));
    EXPECT_TRUE(text.endsWith(QStringLiteral("line 299999\n")));
}

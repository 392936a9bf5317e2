#include "common/test_support.h"
#include "support/appended_file.h"
#include "support/clock.h"
#include "support/error_log.h"
#include "support/file_failures.h"
#include "support/file_replacement.h"
#include "support/prompter.h"

#include <QDir>
#include <QFile>

#include <sys/mount.h>
#include <unistd.h>

namespace {

class ClassicFiles : public InTempDir {
protected:
    SettableClock clock{QDateTime(QDate(2026, 12, 10), QTime(2, 52, 10))};
    RecordingPrompter prompter;
    ErrorLog log{clock, prompter};
    FileFailures failures{log};
};

// A small tmpfs in ./disk, filled up to its last few bytes; skipped where mounting is not allowed.
class FullDisk : public ClassicFiles {
protected:
    void SetUp() override {
        ClassicFiles::SetUp();
        ASSERT_TRUE(QDir().mkdir(QStringLiteral("disk")));
        if (::mount("tmpfs", "disk", "tmpfs", 0, "size=64k") != 0) {
            GTEST_SKIP() << "no tmpfs may be mounted here (needs root): full-disk cases not run";
        }
        mounted_ = true;
    }
    void TearDown() override {
        if (mounted_) {
            ::umount2("disk", MNT_DETACH);
        }
        ClassicFiles::TearDown();
    }
    // Fills the disk; removing the returned file gives the space back.
    static QString Fill() {
        QFile filler(QStringLiteral("disk/filler"));
        EXPECT_TRUE(filler.open(QIODevice::WriteOnly));
        const QByteArray block(512, 'x');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
        return filler.fileName();
    }

private:
    bool mounted_ = false;
};

} // namespace

TEST_F(FullDisk, AnAppendNeverLeavesPartOfALineAndTheErrorLogCatchesUpOnceSpaceIsBack) {
    const QString soc = QStringLiteral("disk/BatterySoC.log");
    ErrorLog diskLog{clock, prompter, QStringLiteral("disk/ModbusClient errors.log")};
    FileFailures diskFailures{diskLog};
    FileFailure failure;
    ASSERT_TRUE(AppendWholeLines(soc, "2026-12-10 02:52:00 10\r\n", AppendSync::Paced, &failure));
    const QString filler = Fill();
    const QByteArray longLine = QByteArray(5000, '9') + "\r\n"; // more than its page holds
    EXPECT_FALSE(AppendWholeLines(soc, longLine, AppendSync::Paced, &failure, 3));
    EXPECT_EQ(failure.number, 61);
    EXPECT_EQ(ReadAll(soc), "2026-12-10 02:52:00 10\r\n");
    diskFailures.failed(soc, failure, QStringLiteral("this line is lost"));
    diskFailures.failed(soc, failure, QStringLiteral("this line is lost")); // the same run: quiet
    EXPECT_EQ(diskLog.entriesSinceStart(), 1);
    EXPECT_EQ(prompter.messages, QStringList{QStringLiteral("61 9010 ModbusClient.ErrorHandle")});
    EXPECT_EQ(ReadAll(diskLog.path()), "");

    QFile::remove(filler);
    ASSERT_TRUE(AppendWholeLines(soc, "2026-12-10 02:52:10 11\r\n", AppendSync::Paced, &failure));
    diskFailures.succeeded(soc);
    EXPECT_EQ(ReadAll(soc), "2026-12-10 02:52:00 10\r\n2026-12-10 02:52:10 11\r\n");
    const QByteArray entries = ReadAll(diskLog.path());
    EXPECT_EQ(entries.count("Could not write disk/BatterySoC.log: Disk full; this line is lost"), 1);
    EXPECT_TRUE(entries.endsWith("\r\n\r\n"));
}

TEST_F(FullDisk, AReplacedFileStaysWholeOnAFullDisk) {
    const QString state = QStringLiteral("disk/Battery.txt");
    FileFailure failure;
    ASSERT_TRUE(ReplaceFileSynced(state, "first\r\n", &failure));
    const QString filler = Fill();
    EXPECT_FALSE(ReplaceFileDeferred(state, QByteArray(8192, 'x'), &failure));
    EXPECT_EQ(failure.number, 61);
    EXPECT_EQ(ReadAll(state), "first\r\n");
    EXPECT_FALSE(QFile::exists(state + QStringLiteral(".new")));
    QFile::remove(filler);
    EXPECT_TRUE(ReplaceFileDeferred(state, QByteArray(8192, 'x'), &failure));
}

// Run as root in a folder another user controls: that user's links lead nowhere; the process's
// own and root's are followed.
TEST_F(ClassicFiles, LinksAnotherUserMadeAreNotFollowed) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to make a link owned by another user";
    }
    WriteAll(QStringLiteral("secret"), "root's own\n");
    const char* names[] = {"Battery.txt", "Battery.txt.tmp", "BatterySoC.log", "ModbusClient errors.log",
                           "Battery.txt.new"};
    for (const char* name : names) {
        ASSERT_EQ(::symlink("secret", name), 0);
        ASSERT_EQ(::lchown(name, 65534, 65534), 0);
    }
    FileFailure failure;
    EXPECT_FALSE(ReplaceFileDeferred(QStringLiteral("Battery.txt"), "state\r\n", &failure));
    EXPECT_EQ(failure.number, 70);
    EXPECT_TRUE(failure.description.contains(QStringLiteral("link")));
    EXPECT_EQ(WriteScratchFile(QStringLiteral("Battery.txt.tmp"), "state\r\n"), ScratchWrite::ForeignLink);
    EXPECT_FALSE(AppendWholeLines(QStringLiteral("BatterySoC.log"), "line\r\n", AppendSync::Paced, &failure));
    log.ErrorHandle(QStringLiteral("Timeout"), QStringLiteral("0"), QStringLiteral("HandleTimeout"));
    EXPECT_EQ(ReadAll(QStringLiteral("secret")), "root's own\n");
    EXPECT_EQ(prompter.messages.size(), 1);

    // A side file someone left, link or not, is removed and made afresh; the link is not written
    // through.
    ASSERT_EQ(::unlink("Battery.txt"), 0);
    EXPECT_TRUE(ReplaceFileDeferred(QStringLiteral("Battery.txt"), "state\r\n", &failure));
    EXPECT_EQ(ReadAll(QStringLiteral("secret")), "root's own\n");
    // Root's own link is followed.
    ASSERT_EQ(::unlink("BatterySoC.log"), 0);
    ASSERT_EQ(::symlink("secret", "BatterySoC.log"), 0);
    EXPECT_TRUE(AppendWholeLines(QStringLiteral("BatterySoC.log"), "line\r\n", AppendSync::Now, &failure));
    EXPECT_EQ(ReadAll(QStringLiteral("secret")), "root's own\nline\r\n");
}

TEST_F(ClassicFiles, StartUpCutsANulOrPartialTailBackToTheLastWholeLine) {
    const QByteArray longLines = "a 1\r\n" + QByteArray(70000, 'x') + "\r\n";
    const struct {
        QByteArray before;
        QByteArray after;
    } cases[] = {
        {"a 1\r\nb 2\r\n" + QByteArray(373, '\0'), "a 1\r\nb 2\r\n"},
        {"a 1\r\nb 2\r\n2026-1", "a 1\r\nb 2\r\n"},
        {longLines + QByteArray(70000, '\0'), longLines}, // over more than one chunk
        {"a 1\r\nb 2\r\n", "a 1\r\nb 2\r\n"},
        {QByteArray(20, '\0'), ""},
    };
    int index = 0;
    for (const auto& c : cases) {
        const QString name = QStringLiteral("log") + QString::number(index++);
        WriteAll(name, c.before);
        const QStringList said = RepairLogTails({name, QStringLiteral("missing.log")});
        EXPECT_EQ(ReadAll(name), c.after) << index;
        EXPECT_EQ(said.size(), c.before == c.after ? 0 : 1) << index;
    }
}

#include "common/test_support.h"
#include "support/appended_file.h"
#include "support/clock.h"
#include "support/error_log.h"
#include "support/file_failures.h"
#include "support/file_replacement.h"
#include "support/prompter.h"

#include <QDir>
#include <QFile>

#include <cstdio>
#include <sys/mount.h>
#include <unistd.h>

namespace {
class ClassicFiles : public InTempDir {
protected:
    SettableClock clock{QDateTime(QDate(2026, 12, 10), QTime(2, 52, 10))};
    RecordingPrompter prompter;
    ErrorLog log{clock, prompter, QStringLiteral("disk/ModbusClient errors.log")};
    FileFailures failures{log};
};
} // namespace

TEST_F(ClassicFiles, AFullDiskLeavesNoPartOfALineAndTheErrorLogCatchesUpOnceSpaceIsBack) {
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("disk")));
    if (::mount("tmpfs", "disk", "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "no tmpfs may be mounted here (needs root): no full disk to try";
    }
    struct Unmount {
        ~Unmount() { ::umount2("disk", MNT_DETACH); }
    } unmount;
    const QString soc = QStringLiteral("disk/BatterySoC.log");
    FileFailure failure;
    ASSERT_TRUE(AppendWholeLines(soc, "2026-12-10 02:52:00 10\r\n", AppendSync::Paced, &failure));
    QFile filler(QStringLiteral("disk/filler"));
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    while (filler.write(QByteArray(512, 'x')) == 512) { // as much as fits
    }
    // More than the file's last page holds: the part that went in is taken back out.
    EXPECT_FALSE(AppendWholeLines(soc, QByteArray(5000, '9') + "\r\n", AppendSync::Paced, &failure, 3));
    EXPECT_EQ(ReadAll(soc), "2026-12-10 02:52:00 10\r\n");
    failures.failed(soc, failure, QStringLiteral("this line is lost"));
    failures.failed(soc, failure, QStringLiteral("this line is lost")); // the same run: quiet
    EXPECT_EQ(prompter.messages, QStringList{QStringLiteral("61 9010 ModbusClient.ErrorHandle")});
    EXPECT_EQ(ReadAll(log.path()), "");

    filler.remove();
    ASSERT_TRUE(AppendWholeLines(soc, "2026-12-10 02:52:10 11\r\n", AppendSync::Paced, &failure));
    failures.succeeded(soc);
    EXPECT_EQ(ReadAll(soc), "2026-12-10 02:52:00 10\r\n2026-12-10 02:52:10 11\r\n");
    const QByteArray entries = ReadAll(log.path());
    EXPECT_EQ(entries.count("Could not write disk/BatterySoC.log: Disk full; this line is lost"), 1);
    EXPECT_TRUE(entries.endsWith("\r\n\r\n"));
}

// Run as root in a folder another user controls: that user's links lead nowhere.
TEST_F(ClassicFiles, LinksAnotherUserMadeAreNotFollowed) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to make a link owned by another user";
    }
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("disk")));
    WriteAll(QStringLiteral("secret"), "root's own\n");
    for (const char* name : {"Battery.txt", "Battery.txt.tmp", "Battery.txt.new", "BatterySoC.log",
                             "disk/ModbusClient errors.log"}) {
        ASSERT_TRUE(::symlink(QDir::current().filePath("secret").toLocal8Bit(), name) == 0 &&
                    ::lchown(name, 65534, 65534) == 0);
    }
    FileFailure failure;
    EXPECT_FALSE(ReplaceFileDeferred(QStringLiteral("Battery.txt"), "state\r\n", &failure));
    EXPECT_TRUE(failure.number == 70 && failure.description.contains(QStringLiteral("link")));
    EXPECT_EQ(WriteScratchFile(QStringLiteral("Battery.txt.tmp"), "state\r\n"), ScratchWrite::ForeignLink);
    EXPECT_FALSE(AppendWholeLines(QStringLiteral("BatterySoC.log"), "line\r\n", AppendSync::Paced, &failure));
    log.ErrorHandle(QStringLiteral("Timeout"), QStringLiteral("0"), QStringLiteral("HandleTimeout"));
    // A side file someone left, a link or not, is made afresh.
    ASSERT_EQ(::unlink("Battery.txt"), 0);
    EXPECT_TRUE(ReplaceFileDeferred(QStringLiteral("Battery.txt"), "state\r\n", &failure));
    EXPECT_EQ(ReadAll(QStringLiteral("secret")), "root's own\n");
}

TEST_F(ClassicFiles, StartUpCutsANulOrPartialTailBackToTheLastWholeLine) {
    const QByteArray lines = "a 1\r\n" + QByteArray(70000, 'x') + "\r\n"; // longer than a chunk read
    const QByteArray cases[][2] = {{lines + QByteArray(373, '\0'), lines},
                                   {lines + "2026-1", lines},
                                   {lines + QByteArray(70000, '\0'), lines},
                                   {lines, lines},
                                   {QByteArray(20, '\0'), ""}};
    for (const auto& c : cases) {
        WriteAll(QStringLiteral("log"), c[0]);
        EXPECT_EQ(RepairLogTails({QStringLiteral("log"), QStringLiteral("missing.log")}).size(),
                  c[0] == c[1] ? 0 : 1);
        EXPECT_EQ(ReadAll(QStringLiteral("log")), c[1]);
    }
}

// An installation away is said on standard error once per run of failed polls, not every tick.
TEST_F(ClassicFiles, ARepeatedFailureIsOneStandardErrorLinePerRun) {
    std::fflush(stderr);
    const int saved = ::dup(2);
    FILE* capture = std::fopen("stderr.txt", "w");
    ASSERT_TRUE(saved >= 0 && capture != nullptr && ::dup2(::fileno(capture), 2) >= 0);
    StderrPrompter stderrPrompter;
    const QString away = QStringLiteral("check the IP address");
    for (const bool ended : {false, false, true, false, false}) {
        ended ? stderrPrompter.ended(away) : stderrPrompter.repeated(away);
    }
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    std::fclose(capture);
    EXPECT_EQ(ReadAll(QStringLiteral("stderr.txt")), "check the IP address\ncheck the IP address\n");
}

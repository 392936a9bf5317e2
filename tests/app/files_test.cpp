#include "app/shell.h"
#include "common/fake_server.h"
#include "common/test_support.h"
#include "support/clock.h"
#include "support/prompter.h"

#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

// The files as the user set them up, polled from a loopback server.
namespace {

class FilesTest : public InTempDir {
protected:
    void Start(const QByteArray& settings) {
        ASSERT_TRUE(server.listen());
        QObject::connect(&shell, &Shell::pollCycleCompleted, [this] { ++cycles; });
        WriteAll(QStringLiteral("modbusclient.ini"), settings); // found in any letter case
        shell.Form_Load(QStringLiteral("127.0.0.1"));
        shell.form().Port = QString::number(server.port());
        shell.connectcmd_Click();
        ASSERT_TRUE(WaitUntil([&] { return cycles == 1; }));
    }

    // A minute tick's poll; true once its block B was decoded or its block A failed.
    bool Poll(const QDateTime& at, int pvChargeLife) {
        server.registers[60169] = pvChargeLife;
        clock.set(at);
        const int before = cycles;
        shell.Timer2_Timer();
        return WaitUntil([&] { return cycles > before || !shell.link().awaitingResponse(); });
    }

    SettableClock clock{QDateTime(QDate(2026, 12, 7), QTime(12, 0, 0))};
    RecordingPrompter prompter;
    FakeServer server;
    Shell shell{clock, prompter};
    int cycles = 0;
};

} // namespace

TEST_F(FilesTest, ALinkedFileAndAFileInAFolderTheServiceMayNotWriteGetEveryCycleAndKeepTheirModes) {
    // Battery.txt links into another folder; the registers file was made for the service user
    // in a folder that is not its own. Root may write any folder: it polls as the user nobody.
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("elsewhere")) && QDir().mkdir(QStringLiteral("service")));
    ASSERT_TRUE(QFile::link(QStringLiteral("elsewhere/state.txt"), QStringLiteral("Battery.txt")));
    WriteAll(QStringLiteral("elsewhere/state.txt"), "");
    WriteAll(QStringLiteral("service/regs.txt"), "");
    for (const char* name : {"elsewhere", "elsewhere/state.txt", "service/regs.txt"}) {
        ASSERT_TRUE(::geteuid() != 0 || ::chown(name, 65534, 65534) == 0);
    }
    ASSERT_TRUE(!::chmod("elsewhere/state.txt", 0640) && !::chmod(".", 0777) && !::chmod("service", 0555));
    struct AsNobody {
        const bool root = ::geteuid() == 0;
        AsNobody() { EXPECT_TRUE(!root || ::setresuid(65534, 65534, 0) == 0); }
        ~AsNobody() { EXPECT_TRUE((!root || ::setresuid(0, 0, 0) == 0) && ::chmod("service", 0755) == 0); }
    } asNobody;
    Start("127.0.0.1\r\nBattery.txt\r\nservice/regs.txt\r\n");
    for (int life = 1001; life <= 1003; ++life) {
        ASSERT_TRUE(Poll(clock.now().addSecs(60), life));
        EXPECT_TRUE(QFileInfo(QStringLiteral("Battery.txt")).isSymLink());
        EXPECT_TRUE(ReadAll(QStringLiteral("elsewhere/state.txt"))
                        .contains("PVChargeLife = " + QByteArray::number(life)));
        EXPECT_TRUE(
            ReadAll(QStringLiteral("service/regs.txt")).contains("60169 " + QByteArray::number(life)));
        struct stat st {};
        EXPECT_TRUE(::stat("elsewhere/state.txt", &st) == 0 && (st.st_mode & 0777) == 0640);
    }
    // The side file, beside the target, is renamed into place; where no swap is possible there is none.
    EXPECT_FALSE(QFile::exists(QStringLiteral("elsewhere/state.txt.new")));
    EXPECT_FALSE(QFile::exists(QStringLiteral("service/regs.txt.new")));
}

TEST_F(FilesTest, ASnapshotInAnyLetterCaseStaysTheOneBaselineAcrossTwoMidnights) {
    // Written by an editor that ends lines with CR alone; the summary the user already keeps.
    WriteAll(QStringLiteral("batterynight.txt"), "PVChargeLife = 1000\rGridChargeLife = 0\r");
    WriteAll(QStringLiteral("Battery Daily Summary.LOG"), "kept\r\n");
    server.registers[60169] = 1500;
    Start("127.0.0.1\r\n");
    EXPECT_TRUE(ReadAll(QStringLiteral("Battery.txt")).contains("PVChargeToday = 500\r\n"));
    const QDate day = clock.now().date();
    const int life[] = {1500, 2100, 2400};
    for (int night = 1; night <= 2; ++night) {
        ASSERT_TRUE(Poll(QDateTime(day.addDays(night - 1), QTime(23, 59, 30)), life[night - 1]));
        clock.set(QDateTime(day.addDays(night), QTime(0, 0, 0)));
        shell.Timer3_Timer();
        ASSERT_TRUE(Poll(QDateTime(day.addDays(night), QTime(0, 1, 0)), life[night]));
        const QByteArray today = "PVChargeToday = " + QByteArray::number(life[night] - life[night - 1]);
        EXPECT_TRUE(ReadAll(QStringLiteral("Battery.txt")).contains(today + "\r\n")) << night;
    }
    EXPECT_EQ(QDir().entryList({QStringLiteral("*night*"), QStringLiteral("*summary*")}),
              (QStringList{QStringLiteral("Battery Daily Summary.LOG"), QStringLiteral("batterynight.txt")}));
    EXPECT_EQ(CrLfLines(QStringLiteral("Battery Daily Summary.LOG")).size(), 1 + 2 * 18);
}

TEST_F(FilesTest, ADecoderFailureIsLoggedOncePerRunAndItsEndIsShown) {
    Start("127.0.0.1\r\n");
    // The battery capacity's high word beyond a signed 32 bits for five polls, then twice not,
    // then once more.
    for (int minute = 1; minute <= 9; ++minute) {
        server.registers[60031] = minute <= 5 || minute == 8 ? 0x8000 : 0;
        ASSERT_TRUE(Poll(clock.now().addSecs(60), 1500));
        EXPECT_EQ(shell.form().txtStatus.contains("DecodeBlockA runs again after Overflow"),
                  minute == 6 || minute == 9);
    }
    EXPECT_EQ(ReadAll(QStringLiteral("ModbusClient errors.log")).count("Overflow"), 2);
}

#include "app/shell.h"
#include "common/fake_server.h"
#include "common/test_support.h"
#include "support/clock.h"
#include "support/prompter.h"

#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

// The files as the user set them up (links, modes, a folder the service may not write, names in
// any letter case), polled from a loopback server.
namespace {

class FilesTest : public InTempDir {
protected:
    void SetUp() override {
        InTempDir::SetUp();
        ASSERT_TRUE(server.listen());
        QObject::connect(&shell, &Shell::pollCycleCompleted, [this] { ++cycles; });
    }

    void Start(const QByteArray& settings) {
        WriteAll(QStringLiteral("modbusclient.ini"), settings);
        shell.Form_Load(QStringLiteral("127.0.0.1"));
        shell.form().Port = QString::number(server.port());
        shell.connectcmd_Click();
    }

    // One minute tick's poll at the given time with PV charged so far; true once its block B
    // was decoded, or, when block A fails, once its answer was taken.
    bool Poll(const QDateTime& at, int pvChargeLife) {
        server.registers[60169] = pvChargeLife;
        clock.set(at);
        const int before = cycles;
        shell.Timer2_Timer();
        return WaitUntil([&] { return cycles > before || !shell.form().awaitingResponse; });
    }

    static QString Line(const QString& file, const QString& key) {
        const QStringList lines = CrLfLines(file).filter(key + QStringLiteral(" = "));
        return lines.isEmpty() ? QStringLiteral("<missing>") : lines.first().mid(key.size() + 3);
    }

    static int Mode(const QString& path) {
        struct stat st {};
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? static_cast<int>(st.st_mode & 0777)
                                                                     : -1;
    }

    SettableClock clock{QDateTime(QDate(2026, 12, 7), QTime(12, 0, 0))};
    RecordingPrompter prompter;
    FakeServer server;
    Shell shell{clock, prompter};
    int cycles = 0;
};

} // namespace

TEST_F(FilesTest, ALinkedStateFileStaysALinkAndItsTargetAndModesAreCurrentEveryCycle) {
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("elsewhere")));
    WriteAll(QStringLiteral("elsewhere/state.txt"), "old\r\n");
    WriteAll(QStringLiteral("regs.txt"), "");
    ::chmod("elsewhere/state.txt", 0640);
    ::chmod("regs.txt", 0640);
    ASSERT_TRUE(QFile::link(QStringLiteral("elsewhere/state.txt"), QStringLiteral("Battery.txt")));
    Start("127.0.0.1\r\nBattery.txt\r\nregs.txt\r\n");
    ASSERT_TRUE(WaitUntil([&] { return cycles == 1; }));
    for (int minute = 1; minute <= 3; ++minute) {
        ASSERT_TRUE(Poll(clock.now().addSecs(60), 1000 + minute));
        EXPECT_TRUE(QFileInfo(QStringLiteral("Battery.txt")).isSymLink());
        EXPECT_EQ(Line(QStringLiteral("elsewhere/state.txt"), QStringLiteral("PVChargeLife")),
                  QString::number(1000 + minute));
        EXPECT_EQ(Mode(QStringLiteral("elsewhere/state.txt")), 0640);
        EXPECT_EQ(Mode(QStringLiteral("regs.txt")), 0640);
        EXPECT_EQ(CrLfLines(QStringLiteral("regs.txt")).filter(QStringLiteral("60169 ")),
                  QStringList{QStringLiteral("60169 ") + QString::number(1000 + minute)});
    }
    // The side file sits beside the target, not beside the link.
    EXPECT_TRUE(QFile::exists(QStringLiteral("elsewhere/state.txt.new")));
    EXPECT_FALSE(QFile::exists(QStringLiteral("Battery.txt.new")));
}

TEST_F(FilesTest, AFolderTheServiceMayNotWriteStillGetsEveryCycleInItsFiles) {
    // Files made for the service user in a folder that is not its own. Root may write any folder,
    // so the cycles run as the user nobody (the saved user id brings root back).
    const uid_t nobody = 65534;
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("service")));
    for (const char* name : {"service/Battery.txt", "service/Battery.txt.tmp"}) {
        WriteAll(QString::fromLatin1(name), "");
        if (::geteuid() == 0) {
            ASSERT_EQ(::chown(name, nobody, nobody), 0);
        }
    }
    ::chmod(".", 0777);
    ::chmod("service", 0555);
    struct AsNobody {
        bool root = ::geteuid() == 0;
        AsNobody() { EXPECT_TRUE(!root || ::setresuid(nobody, nobody, 0) == 0); }
        ~AsNobody() {
            EXPECT_TRUE(!root || ::setresuid(0, 0, 0) == 0);
            ::chmod("service", 0755);
        }
    } asNobody;
    Start("127.0.0.1\r\nservice/Battery.txt\r\n");
    ASSERT_TRUE(WaitUntil([&] { return cycles == 1; }));
    for (int minute = 1; minute <= 2; ++minute) {
        ASSERT_TRUE(Poll(clock.now().addSecs(60), 2000 + minute));
        EXPECT_EQ(Line(QStringLiteral("service/Battery.txt"), QStringLiteral("PVChargeLife")),
                  QString::number(2000 + minute));
    }
    EXPECT_FALSE(QFile::exists(QStringLiteral("service/Battery.txt.new")));
    EXPECT_FALSE(QFile::exists(QStringLiteral("ModbusClient errors.log")));
}

TEST_F(FilesTest, ASnapshotInAnyLetterCaseStaysTheOneBaselineAcrossTwoMidnights) {
    // Written by an editor that ends lines with CR alone; the summary the user already keeps.
    WriteAll(QStringLiteral("batterynight.txt"), "PVChargeLife = 1000\rGridChargeLife = 0\r");
    WriteAll(QStringLiteral("Battery Daily Summary.LOG"), "kept\r\n");
    server.registers[60169] = 1500;
    Start("127.0.0.1\r\n");
    ASSERT_TRUE(WaitUntil([&] { return cycles == 1; }));
    EXPECT_EQ(Line(QStringLiteral("Battery.txt"), QStringLiteral("PVChargeToday")), QStringLiteral("500"));
    const QDate day = clock.now().date();
    const int life[] = {1500, 2100, 2400};
    for (int night = 1; night <= 2; ++night) {
        ASSERT_TRUE(Poll(QDateTime(day.addDays(night - 1), QTime(23, 59, 30)), life[night - 1]));
        clock.set(QDateTime(day.addDays(night), QTime(0, 0, 0)));
        shell.Timer3_Timer();
        ASSERT_TRUE(Poll(QDateTime(day.addDays(night), QTime(0, 1, 0)), life[night]));
        EXPECT_EQ(Line(QStringLiteral("Battery.txt"), QStringLiteral("PVChargeToday")),
                  QString::number(life[night] - life[night - 1]));
    }
    EXPECT_EQ(QDir().entryList({QStringLiteral("*night*"), QStringLiteral("*summary*")}),
              (QStringList{QStringLiteral("Battery Daily Summary.LOG"), QStringLiteral("batterynight.txt")}));
    EXPECT_EQ(CrLfLines(QStringLiteral("Battery Daily Summary.LOG")).size(), 1 + 2 * 18);
}

TEST_F(FilesTest, ADecoderFailureIsLoggedOncePerRunAndItsEndIsShown) {
    Start("127.0.0.1\r\n");
    ASSERT_TRUE(WaitUntil([&] { return cycles == 1; }));
    const auto overflows = [] {
        return CrLfLines(QStringLiteral("ModbusClient errors.log")).filter(QStringLiteral("Overflow")).size();
    };
    server.registers[60031] = 0x8000; // the battery capacity's high word, beyond a signed 32 bits
    for (int minute = 1; minute <= 5; ++minute) {
        ASSERT_TRUE(Poll(clock.now().addSecs(60), 1500));
    }
    EXPECT_EQ(overflows(), 1);
    EXPECT_EQ(cycles, 1);
    server.registers[60031] = 0;
    ASSERT_TRUE(Poll(clock.now().addSecs(60), 1500));
    EXPECT_EQ(cycles, 2);
    EXPECT_TRUE(shell.form().txtStatus.contains(QStringLiteral("DecodeBlockA runs again after Overflow")));
    server.registers[60031] = 0x8000;
    ASSERT_TRUE(Poll(clock.now().addSecs(60), 1500));
    EXPECT_EQ(overflows(), 2) << "a new run of the failure is logged again";
}

#include "common/test_support.h"
#include "support/clock.h"
#include "support/error_log.h"
#include "support/event_boundary.h"
#include "support/file_failures.h"
#include "support/file_replacement.h"
#include "support/file_utils.h"
#include "support/prompter.h"
#include "support/run_error.h"
#include "support/text_forms.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString kLog = QStringLiteral("ModbusClient errors.log");

class SupportTest : public InTempDir {
protected:
    SettableClock clock{QDateTime(QDate(2026, 12, 7), QTime(20, 26, 39))};
    RecordingPrompter prompter;
    ErrorLog log{clock, prompter};
};
} // namespace

TEST_F(SupportTest, ErrorLogAppendsEntriesEndingInAnEmptyLine) {
    WriteAll(kLog, "earlier\r\n\r\n");
    log.ErrorHandle(QStringLiteral("Timeout"), QStringLiteral("0"), QStringLiteral("HandleTimeout"));
    clock.advance(1000);
    log.ErrorHandle(QStringLiteral("10061"), QStringLiteral("0"), QStringLiteral("Winsock1_Error"),
                    QStringLiteral("Connection refused"));
    EXPECT_EQ(ReadAll(kLog), QByteArray("earlier\r\n\r\n"
                                        "Time: 07/12/2026 20:26:39 | Error: Timeout | Line: 0 | Procedure: "
                                        "HandleTimeout\r\n\r\n"
                                        "Time: 07/12/2026 20:26:40 | Error: 10061 | Line: 0 | Procedure: "
                                        "Winsock1_Error | Description: Connection refused\r\n\r\n"));
    EXPECT_TRUE(prompter.messages.isEmpty());
}

TEST_F(SupportTest, ErrorLogThatCannotBeOpenedTellsTheOperator) {
    ASSERT_TRUE(QDir().mkdir(kLog));
    log.ErrorHandle(QStringLiteral("Timeout"), QStringLiteral("0"), QStringLiteral("HandleTimeout"));
    ASSERT_EQ(prompter.messages.size(), 1);
    EXPECT_TRUE(prompter.messages[0].endsWith(QStringLiteral(" 9000 ModbusClient.ErrorHandle")))
        << prompter.messages[0].toStdString();
}

TEST_F(SupportTest, BinaryCopyFileReplacesTheDestinationExactly) {
    const QByteArray source(100, 's');
    WriteAll(QStringLiteral("src.bin"), source);
    WriteAll(QStringLiteral("long.bin"), QByteArray(150, 'd'));
    BinaryCopyFile(log, QStringLiteral("src.bin"), QStringLiteral("long.bin"));
    EXPECT_EQ(ReadAll(QStringLiteral("long.bin")), source);

    BinaryCopyFile(log, QStringLiteral("src.bin"), QStringLiteral("new.bin"));
    EXPECT_EQ(ReadAll(QStringLiteral("new.bin")), source);
    EXPECT_EQ(ReadAll(QStringLiteral("src.bin")), source);
    EXPECT_FALSE(QFile::exists(kLog));
}

TEST_F(SupportTest, BinaryCopyFileLogsTheFirstFailedStepOnce) {
    WriteAll(QStringLiteral("src.bin"), "payload");
    WriteAll(QStringLiteral("kept.bin"), "old");
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("folder")));
    struct Case {
        const char* source;
        const char* dest;
        const char* errorAndLine;
    };
    const Case cases[] = {
        {"src.bin", "folder", "75 | Line: 70"},          // an existing destination that is no file
        {"src.bin", "missing/out.bin", "76 | Line: 70"}, // a destination in no folder
        {"absent.bin", "kept.bin", "53 | Line: 20"},     // no source: the destination stays as it was
        {"absent.bin", "none.bin", "53 | Line: 20"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dest);
        QFile::remove(kLog);
        BinaryCopyFile(log, QString::fromLatin1(c.source), QString::fromLatin1(c.dest));
        EXPECT_EQ(CrLfLines(kLog),
                  QStringList({QStringLiteral("Time: 07/12/2026 20:26:39 | Error: ") +
                                   QLatin1String(c.errorAndLine) +
                                   QStringLiteral(" | Procedure: ModbusClient.BinaryCopyFile"),
                               QString()}));
    }
    EXPECT_TRUE(QFileInfo(QStringLiteral("folder")).isDir());
    EXPECT_EQ(ReadAll(QStringLiteral("kept.bin")), QByteArray("old"));
    EXPECT_FALSE(QFile::exists(QStringLiteral("none.bin")));
    EXPECT_TRUE(prompter.messages.isEmpty());
}

TEST_F(SupportTest, FileExistsOnlyForRegularFiles) {
    WriteAll(QStringLiteral("a.txt"), "x");
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("d")));
    EXPECT_TRUE(FileExists(QStringLiteral("a.txt")));
    EXPECT_FALSE(FileExists(QStringLiteral("d")));
    EXPECT_FALSE(FileExists(QStringLiteral("b.txt")));
    EXPECT_FALSE(FileExists(QString()));
}

TEST(TextForms, DecimalAndGroupedForms) {
    const struct {
        double v;
        const char* text;
    } decimals[] = {
        {std::ldexp(1.0, 48), "281474976710656"},
        {std::ldexp(1.0, 64), "1.84467440737096E+19"},
        {999999999999999.0, "999999999999999"},
        {1e15, "1E+15"},
        {5324.8, "5324.8"},
        {0.1 + 0.2, "0.3"},
        {-12.25, "-12.25"},
        {-0.0, "0"},
    };
    for (const auto& c : decimals) {
        EXPECT_EQ(DecimalText(c.v), QString::fromLatin1(c.text)) << c.text;
    }
    EXPECT_EQ(GroupedPattern(5324.8, QStringLiteral(" kWh")), QStringLiteral("5,325 kWh"));
    EXPECT_EQ(GroupedPattern(1234567.2, QStringLiteral(" W")), QStringLiteral("1,234,567 W"));
    EXPECT_EQ(GroupedPattern(-1500, QStringLiteral(" W")), QStringLiteral("-1,500 W"));
    EXPECT_EQ(GroupedPattern(0.3, QStringLiteral(" kWh")), QStringLiteral("0 kWh"));

    // The night snapshot's values are read by their leading number, whatever follows.
    EXPECT_EQ(LeadingNumber(QStringLiteral("1000")), 1000.0);
    EXPECT_EQ(LeadingNumber(QStringLiteral("  12.5 kWh")), 12.5);
    EXPECT_EQ(LeadingNumber(QStringLiteral("-3x")), -3.0);
    EXPECT_EQ(LeadingNumber(QStringLiteral("1,000")), 1.0);
    EXPECT_EQ(LeadingNumber(QStringLiteral("kWh 5")), 0.0);
    EXPECT_EQ(LeadingNumber(QString()), 0.0);
}

TEST_F(SupportTest, EventBoundaryEndsTheEventWithOneEntry) {
    EventBoundary boundary(log);
    int refreshes = 0;
    boundary.afterEvent = [&] { ++refreshes; };
    bool outerRanOn = false;
    EXPECT_NO_THROW(boundary.run(QStringLiteral("Winsock1_DataArrival"), [&] {
        boundary.run(QStringLiteral("Winsock1_DataArrival"), [] {
            throw RunError{6, QStringLiteral("Overflow"), QStringLiteral("DecodeBlockA")};
        });
        outerRanOn = true;
    }));
    EXPECT_TRUE(outerRanOn);
    EXPECT_EQ(refreshes, 1);
    EXPECT_NO_THROW(boundary.run(QStringLiteral("Timer1_Timer"), [] { throw std::runtime_error("boom"); }));
    EXPECT_EQ(refreshes, 2);

    const QStringList lines = CrLfLines(kLog);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[0].endsWith(
        QStringLiteral(" | Error: 6 | Line: 0 | Procedure: DecodeBlockA | Description: Overflow")));
    EXPECT_TRUE(lines[2].contains(QStringLiteral(" | Procedure: Timer1_Timer | Description: boom")));
    EXPECT_EQ(lines[1], QString());
    EXPECT_EQ(lines[3], QString());
}

TEST_F(SupportTest, HostTimesCarryNoTimeZoneAndTheCLocaleWritesIsoDates) {
    const QDateTime t(QDate(2026, 12, 9), QTime(20, 41, 5));
    const QLocale previous;
    for (const char* name : {"zh_CN", "fa_IR", "en_US", "de_DE", "ko_KR"}) {
        QLocale::setDefault(QLocale(QString::fromLatin1(name)));
        const QString time = HostTime(t);
        EXPECT_FALSE(time.contains(QStringLiteral("UTC")) || time.contains(QLatin1Char('(')) ||
                     time.startsWith(QLatin1Char(' ')) || time.endsWith(QLatin1Char(' ')))
            << name << ": " << time.toStdString();
    }
    // A service started without LANG: no blanks inside the date column of the logs.
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(HostNow(t), QStringLiteral("2026-12-09 20:41:05"));
    QLocale::setDefault(previous);
    EXPECT_EQ(HostNow(t), QStringLiteral("09/12/2026 20:41:05"));
}

TEST_F(SupportTest, DeferredReplacementSwapsWholeFilesAndRefusesAFolder) {
    FileFailure failure;
    ASSERT_TRUE(ReplaceFileDeferred(QStringLiteral("state.txt"), "first\r\n", &failure));
    ASSERT_TRUE(ReplaceFileDeferred(QStringLiteral("state.txt"), "second, longer\r\n", &failure));
    ASSERT_TRUE(ReplaceFileDeferred(QStringLiteral("state.txt"), "third\r\n", &failure));
    EXPECT_EQ(ReadAll(QStringLiteral("state.txt")), "third\r\n");
    // Each side file is made afresh and renamed into place: none is left beside the file.
    EXPECT_FALSE(QFile::exists(QStringLiteral("state.txt.new")));

    ASSERT_TRUE(QDir().mkdir(QStringLiteral("folder")));
    EXPECT_FALSE(ReplaceFileDeferred(QStringLiteral("folder"), "x", &failure));
    EXPECT_EQ(failure.number, 75);
    EXPECT_EQ(failure.step, 70);
    EXPECT_FALSE(ReplaceFileDeferred(QStringLiteral("missing/state.txt"), "x", &failure));
    EXPECT_EQ(failure.number, 76);
}

// Whatever was done to a rewritten file between calls, the bytes land in the file by that name,
// with its mode, and nothing stale is swapped in.
TEST_F(SupportTest, RewrittenFilesFollowTheirNamesAcrossCalls) {
    const QString tmp = QStringLiteral("state.tmp");
    ASSERT_EQ(WriteScratchFile(tmp, "first\r\n"), ScratchWrite::Done);
    QFile::remove(tmp);
    ASSERT_EQ(WriteScratchFile(tmp, "second\r\n"), ScratchWrite::Done);
    ASSERT_EQ(std::rename("state.tmp", "old.tmp"), 0);
    WriteAll(tmp, "another file");
    ASSERT_EQ(WriteScratchFile(tmp, "third\r\n"), ScratchWrite::Done);
    EXPECT_EQ(ReadAll(QStringLiteral("old.tmp")), "second\r\n");
    WriteAll(QStringLiteral("linked.txt"), "earlier");
    QFile::remove(tmp);
    ASSERT_TRUE(QFile::link(QStringLiteral("linked.txt"), tmp));
    ASSERT_EQ(WriteScratchFile(tmp, "fourth, longer\r\n"), ScratchWrite::Done);
    ASSERT_EQ(WriteScratchFile(tmp, "fifth\r\n"), ScratchWrite::Done);
    EXPECT_EQ(ReadAll(QStringLiteral("linked.txt")), "fifth\r\n");

    const QString state = QStringLiteral("state.txt");
    int cycle = 0;
    const auto replace = [&](int times) {
        for (int i = 0; i < times; ++i) { // each file longer and shorter by turns
            ++cycle;
            const QByteArray bytes = "cycle " + QByteArray::number(cycle) + QByteArray(cycle % 3, '.');
            FileFailure failure;
            EXPECT_TRUE(ReplaceFileDeferred(state, bytes, &failure) && ReadAll(state) == bytes) << cycle;
        }
    };
    replace(4);
    WriteAll(QStringLiteral("intruder"), "stale");
    ASSERT_EQ(std::rename("intruder", "state.txt.new"), 0);
    replace(2);
    ASSERT_EQ(::chmod("state.txt", 0600), 0);
    replace(1);
    struct stat st {};
    EXPECT_TRUE(::stat("state.txt", &st) == 0 && (st.st_mode & 0777) == 0600);
    ASSERT_EQ(::link("state.txt", "other name.txt"), 0); // written in place
    replace(1);
    EXPECT_EQ(ReadAll(QStringLiteral("other name.txt")), ReadAll(state));
    QFile::remove(QStringLiteral("other name.txt"));
    replace(2);
    ASSERT_EQ(std::rename("state.txt", "kept.txt"), 0);
    WriteAll(state, "another file");
    replace(3);
    QFile::remove(state);
    replace(2);
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("elsewhere")));
    WriteAll(QStringLiteral("elsewhere/real.txt"), "earlier");
    QFile::remove(state);
    ASSERT_TRUE(QFile::link(QStringLiteral("elsewhere/real.txt"), state));
    replace(3);
    EXPECT_TRUE(QFileInfo(state).isSymLink() && !QFile::exists(QStringLiteral("elsewhere/real.txt.new")));
}

TEST(TextForms, PinnedTimeZoneKeepsLocalTimeAndTextsFollowTheLocale) {
    const QDateTime before = QDateTime::currentDateTime();
    PinLocalTimeZone();
    const QDateTime after = QDateTime::currentDateTime();
    EXPECT_EQ(before.offsetFromUtc(), after.offsetFromUtc());
    EXPECT_EQ(before.timeZoneAbbreviation(), after.timeZoneAbbreviation());

    // The cached formats follow a change of the default locale.
    const QDateTime t(QDate(2026, 12, 7), QTime(21, 4, 5));
    EXPECT_EQ(HostNow(t), QStringLiteral("07/12/2026 21:04:05"));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(HostDate(t), QStringLiteral("12/7/26"));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
    EXPECT_EQ(HostNow(t.addSecs(1)), QStringLiteral("07/12/2026 21:04:06"));
}

#include <QProcess>
#include <gtest/gtest.h>

namespace {
struct Outcome {
    int code = -1;
    QString out;
    QString err;
};

// The program as started from a shell; a program that does not end is a failure.
Outcome Start(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral(E2E_CLIENT), arguments);
    Outcome run;
    if (!process.waitForFinished(15000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}
} // namespace

TEST(Program, BadPollEndsWithTwoAndEveryHelpOptionPrintsTheHelp) {
    const Outcome bad = Start({QStringLiteral("--poll"), QStringLiteral("soon")});
    EXPECT_EQ(bad.code, 2);
    EXPECT_TRUE(bad.err.contains(QStringLiteral("--poll must be"))) << bad.err.toStdString();
    for (const char* help : {"--help", "--help-all"}) {
        const Outcome run = Start({QString::fromLatin1(help)});
        EXPECT_EQ(run.code, 0) << help;
        EXPECT_TRUE(run.out.contains(QStringLiteral("--poll <SECONDS>"))) << help;
    }
}

#include "common/test_support.h"
#include "e2e/e2e_support.h"

#include <QProcess>

namespace {
// The client with standard error kept apart, as systemd starts it when JOURNAL_STREAM is given.
struct Client {
    Client(const QStringList& arguments, bool journal) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("JOURNAL_STREAM"));
        if (journal) {
            env.insert(QStringLiteral("JOURNAL_STREAM"), QStringLiteral("8:1234"));
        }
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(E2E_CLIENT), arguments);
    }
    // Runs to its end (SIGTERM after timeoutMs); the exit status, then both outputs.
    int finish(int timeoutMs = 10000) {
        if (!process.waitForFinished(timeoutMs)) {
            process.terminate();
            process.waitForFinished();
        }
        out += process.readAllStandardOutput();
        err += process.readAllStandardError();
        return process.exitCode();
    }
    QProcess process;
    QByteArray out, err;
};
} // namespace

class Journal : public InTempDir {};

TEST_F(Journal, EachLineCarriesItsPriorityAndTheFilesGoToTheWorkdir) {
    Program sim(QStringLiteral(E2E_SIM), {QStringLiteral("--port"), QStringLiteral("0"),
                                          QStringLiteral("--fault"), QStringLiteral("close")});
    const quint16 port = sim.listeningPort();
    ASSERT_NE(port, 0);
    WriteAll(path(QStringLiteral("site.conf")),
             "address = 127.0.0.1\nport = " + QByteArray::number(port) + "\npoll = 0.2\n");
    Client client({QStringLiteral("--headless"), QStringLiteral("--connect"), QStringLiteral("--config"),
                   QStringLiteral("site.conf"), QStringLiteral("--workdir"), QStringLiteral("new/dir")},
                  true);
    // The simulator breaks every third answer: error-log entries between the status lines.
    ASSERT_TRUE(WaitUntil(
        [&] {
            client.err += client.process.readAllStandardError();
            return client.err.contains("<3>Time: ");
        },
        10000));
    EXPECT_EQ(client.finish(0), 0);
    EXPECT_TRUE(client.out.startsWith("<6>Connected to server at 127.0.0.1:")) << client.out.toStdString();
    for (const QByteArray& line : (client.out + client.err).split('\n')) {
        EXPECT_TRUE(line.isEmpty() || line.startsWith("<6>") || line.startsWith("<3>")) << line.toStdString();
    }
    EXPECT_TRUE(QFile::exists(path(QStringLiteral("new/dir/ModbusClient errors.log"))));
    EXPECT_TRUE(QFile::exists(path(QStringLiteral("new/dir/Battery.txt"))));
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("Battery.txt"))));

    Client warning({QStringLiteral("--headless"), QStringLiteral("--poll"), QStringLiteral("soon")}, true);
    EXPECT_EQ(warning.finish(1500), 0);
    EXPECT_EQ(warning.err, "<4>Poll rate must be a number of seconds from 0.001 to 65.535\n");
}

TEST_F(Journal, ExitStatusesAndHelpAsDocumented) {
    Client help({QStringLiteral("--help")}, false);
    EXPECT_EQ(help.finish(), 0);
    EXPECT_TRUE(help.out.contains("current folder, or in DIR with --workdir")) << help.out.toStdString();
    EXPECT_TRUE(help.out.contains("2 for a bad option or a bad settings file"));

    Client badOption({QStringLiteral("--port"), QStringLiteral("0")}, true);
    EXPECT_EQ(badOption.finish(), 2);
    EXPECT_EQ(badOption.err,
              "<3>ModbusClient: --port must be a whole number from 1 to 65535\n<3>Try --help.\n");
    Client plain({QStringLiteral("--config"), QStringLiteral("missing.conf")}, false);
    EXPECT_EQ(plain.finish(), 2);
    EXPECT_TRUE(plain.err.startsWith("ModbusClient: cannot read the settings file "))
        << plain.err.toStdString();

    WriteAll(path(QStringLiteral("file")), "");
    Client noFolder({QStringLiteral("--headless"), QStringLiteral("--workdir"), QStringLiteral("file/sub")},
                    false);
    EXPECT_EQ(noFolder.finish(), 1);
}

#include "common/test_support.h"
#include "e2e/e2e_support.h"

#include <QProcess>

namespace {
// The client as systemd starts it (JOURNAL_STREAM when journal); its data folder is ./data.
void Start(QProcess& client, const QString& arguments, bool journal = true) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("JOURNAL_STREAM"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), QDir::current().absoluteFilePath(QStringLiteral("data")));
    if (journal) {
        env.insert(QStringLiteral("JOURNAL_STREAM"), QStringLiteral("8:1234"));
    }
    client.setProcessEnvironment(env);
    client.start(QStringLiteral(E2E_CLIENT), arguments.split(QLatin1Char(' ')));
}

// The exit status, after SIGTERM when it has not ended within ms.
int Finish(QProcess& client, int ms = 10000) {
    if (!client.waitForFinished(ms)) {
        client.terminate();
        client.waitForFinished();
    }
    return client.exitCode();
}
} // namespace

class Journal : public InTempDir {};

TEST_F(Journal, EachLineCarriesItsPriorityAndTheFilesGoToTheWorkdir) {
    // Every third answer never comes: error-log entries between the status lines.
    Program sim(QStringLiteral(E2E_SIM), QStringLiteral("--port 0 --fault silent").split(QLatin1Char(' ')));
    ASSERT_NE(sim.listeningPort(), 0);
    WriteAll(path(QStringLiteral("site.conf")),
             "address = 127.0.0.1\npoll = 0.2\nport = " + QByteArray::number(sim.listeningPort()));
    QProcess client;
    Start(client, QStringLiteral("--headless --connect --timeout 0.5 --config site.conf --workdir new/dir"));
    QByteArray err;
    ASSERT_TRUE(
        WaitUntil([&] { return (err += client.readAllStandardError()).contains("<3>Time: "); }, 10000));
    EXPECT_EQ(Finish(client, 0), 0);
    const QByteArray out = client.readAllStandardOutput();
    // Status lines at debug priority, which the unit keeps out of the journal; the start line
    // says what they would.
    EXPECT_TRUE(out.startsWith("<7>Connected to server at 127.0.0.1:")) << out.toStdString();
    err += client.readAllStandardError();
    EXPECT_TRUE(err.startsWith("<6>Started for 127.0.0.1:")) << err.toStdString();
    for (const QByteArray& line : (out + err).split('\n')) {
        EXPECT_TRUE(line.isEmpty() || line.startsWith("<7>") || line.startsWith("<6>") ||
                    line.startsWith("<3>"))
            << line.toStdString();
    }
    EXPECT_TRUE(QFile::exists(path(QStringLiteral("new/dir/ModbusClient errors.log"))));

    // A bad poll rate in the settings file is refused like any bad setting, naming the file.
    WriteAll(path(QStringLiteral("bad.conf")), "poll = soon\n");
    Start(client, QStringLiteral("--headless --data-folder --config ") + path(QStringLiteral("bad.conf")));
    EXPECT_EQ(Finish(client, 5000), 2);
    EXPECT_TRUE(QDir(path(QStringLiteral("data/ModbusClient"))).exists());
    EXPECT_EQ(client.readAllStandardError().toStdString(),
              "<3>ModbusClient: poll must be a number of seconds from 0.001 to 65.535 in " +
                  path(QStringLiteral("bad.conf")).toStdString() + "\n<3>Try --help.\n");
}

TEST_F(Journal, HelpAndExitStatuses) {
    QProcess client;
    Start(client, QStringLiteral("--help"));
    EXPECT_EQ(Finish(client), 0);
    EXPECT_TRUE(
        client.readAllStandardOutput().contains("current folder, or in DIR with --workdir.\n\nExit "));
    Start(client, QStringLiteral("--port 0"));
    EXPECT_EQ(Finish(client), 2);
    EXPECT_EQ(client.readAllStandardError(),
              "<3>ModbusClient: --port must be a whole number from 1 to 65535\n<3>Try --help.\n");
    Start(client, QStringLiteral("--headless --workdir /dev/null/sub"), false);
    EXPECT_EQ(Finish(client), 1);
    EXPECT_TRUE(client.readAllStandardError().startsWith("ModbusClient: cannot make or enter the working"));
}

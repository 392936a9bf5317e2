#include "app/command_line.h"

#include <gtest/gtest.h>

namespace {
bool Parse(const QStringList& words, CommandLine* result, QString* error = nullptr) {
    QString ignoredError;
    QString output;
    bool exitNow = false;
    return ParseCommandLine(QStringList{QStringLiteral("ModbusClient")} + words, result,
                            error != nullptr ? error : &ignoredError, &exitNow, &output);
}
} // namespace

TEST(CommandLine, PositionalWordsJoinIntoTheClassicLineAndOptionsAreRead) {
    CommandLine c;
    ASSERT_TRUE(Parse(
        {"--port", "1502", "10.0.0.7", "extra", "--connect", "--poll", "2.5", "--timeout", "0.25"}, &c));
    EXPECT_EQ(c.classic, QStringLiteral("10.0.0.7 extra"));
    EXPECT_EQ(c.port, QStringLiteral("1502"));
    EXPECT_EQ(c.poll, QStringLiteral("2.5"));
    EXPECT_EQ(c.timeoutMs, 250);
    EXPECT_TRUE(c.connect);
    EXPECT_FALSE(c.headless);

    CommandLine none;
    ASSERT_TRUE(Parse({}, &none));
    EXPECT_TRUE(none.classic.isEmpty());
    EXPECT_TRUE(none.port.isEmpty());
    EXPECT_TRUE(none.poll.isEmpty());
    EXPECT_EQ(none.timeoutMs, 5000);
    EXPECT_FALSE(none.connect);
    EXPECT_FALSE(none.demo);

    CommandLine demo;
    ASSERT_TRUE(Parse({"--demo", "--headless"}, &demo));
    EXPECT_TRUE(demo.demo);
    EXPECT_TRUE(demo.headless);
    EXPECT_TRUE(none.mqtt.address.isEmpty());

    ASSERT_TRUE(Parse({"--mqtt", "broker.lan:1884", "--mqtt-topic", "home/bat", "--mqtt-user", "meter",
                       "--mqtt-tls", "ca.pem"},
                      &c));
    EXPECT_EQ(c.mqtt.address, QStringLiteral("broker.lan:1884"));
    EXPECT_EQ(c.mqtt.topic, QStringLiteral("home/bat"));
    EXPECT_EQ(c.mqtt.user, QStringLiteral("meter"));
    EXPECT_EQ(c.mqtt.caFile, QStringLiteral("ca.pem"));
}

TEST(CommandLine, BadValuesAreRefusedWithAReason) {
    CommandLine c;
    QString error;
    for (const char* port : {"0", "65536", "abc", "-1"}) {
        EXPECT_FALSE(Parse({"--port", port}, &c, &error)) << port;
        EXPECT_TRUE(error.contains(QStringLiteral("--port"))) << error.toStdString();
    }
    EXPECT_FALSE(Parse({"--timeout", "0"}, &c, &error));
    EXPECT_FALSE(Parse({"--timeout", "soon"}, &c, &error));
    EXPECT_FALSE(Parse({"--no-such-option"}, &c, &error));
    EXPECT_FALSE(Parse({"--mqtt", "broker:0"}, &c, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("--mqtt"))) << error.toStdString();
    EXPECT_TRUE(Parse({"--port", "65535"}, &c));
    for (const char* poll : {"0", "65.536", "soon"}) {
        EXPECT_FALSE(Parse({"--poll", poll}, &c, &error)) << poll;
    }
    EXPECT_TRUE(Parse({"--poll", "0.001"}, &c));
}

TEST(CommandLine, QtStyleOptionsAreNamedAndHelpListsNoQtOptions) {
    CommandLine c;
    QString error;
    EXPECT_FALSE(Parse({"-platform", "offscreen"}, &c, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("'-platform'"))) << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("--headless"))) << error.toStdString();
    EXPECT_FALSE(Parse({"--help-all"}, &c, &error));

    QString output;
    bool exitNow = false;
    ASSERT_TRUE(ParseCommandLine({QStringLiteral("ModbusClient"), QStringLiteral("--help")}, &c, &error,
                                 &exitNow, &output));
    EXPECT_TRUE(exitNow);
    EXPECT_FALSE(output.contains(QStringLiteral("help-all")));
    EXPECT_TRUE(output.contains(QStringLiteral("0.001 to 65.535")));
}

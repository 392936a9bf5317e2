#pragma once

#include <QByteArray>
#include <QString>

// Where and how the figures are published. An empty host means no publishing at all: no
// connection is ever attempted.
struct BrokerSettings {
    QString host;
    quint16 port = 1883;
    // Topic prefix; empty: "modbusclient/<serial number>", known after the first poll.
    QString topicPrefix;
    QString user;
    // Only ever from the environment, never from a file or the command line, and never logged.
    QByteArray password;
    // CA certificate file; set: the connection uses TLS.
    QString caFile;
    // The unit the installation's energy counters count in; published figures are always kWh.
    bool deviceCountsKwh = false;
    // Home Assistant may start and stop a managed charge (--mqtt-control, control = true).
    bool control = false;

    bool enabled() const { return !host.isEmpty(); }
};

// The options as given on the command line or in the settings file; empty: not given.
struct BrokerOptions {
    QString address; // HOST[:PORT]
    QString topic;
    QString user;
    QString caFile;
    QString energyUnit; // "Wh" or "kWh"; only in the file
    QString control;    // "true" or "false" (also yes/no, on/off, 1/0)
};

extern const char* const kBrokerConfFile;
extern const char* const kPasswordVariable;

// HOST, HOST:PORT, [IPv6] or [IPv6]:PORT, the port 1883 when none is given. False for an empty
// host or a port that is not a whole number from 1 to 65535.
bool ParseBrokerAddress(const QString& text, QString* host, quint16* port);

// A prefix the broker takes for every topic under it: no wildcard "+" or "#", no leading "$"
// (the broker's own topics), no empty level. False with the reason.
bool CheckTopicPrefix(const QString& prefix, QString* reason);

class QSettings;

// The [mqtt] section of the settings file (keys host, topic, user, tls, energy_unit, control).
BrokerOptions ReadBrokerConf(QSettings& conf);
// The same from the file at path; a missing file gives nothing.
BrokerOptions ReadBrokerConf(const QString& path);

// The file's options under the command line's, the password from the environment. False with a
// one-line reason for a bad address, a bad prefix or energy unit, or an option that names no broker.
// fileName names the settings file in the messages.
bool ResolveBrokerSettings(const BrokerOptions& commandLine, const BrokerOptions& file,
                           const QByteArray& password, BrokerSettings* settings, QString* error,
                           const QString& fileName = QString::fromLatin1(kBrokerConfFile));

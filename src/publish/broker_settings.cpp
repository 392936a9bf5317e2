#include "publish/broker_settings.h"

#include <QFileInfo>
#include <QSettings>

const char* const kBrokerConfFile = "modbusclient.conf";
const char* const kPasswordVariable = "MODBUSCLIENT_MQTT_PASSWORD";

bool ParseBrokerAddress(const QString& text, QString* host, quint16* port) {
    const QString address = text.trimmed();
    QString portText;
    if (address.startsWith(QLatin1Char('['))) {
        const qsizetype close = address.indexOf(QLatin1Char(']'));
        if (close < 0) {
            return false;
        }
        *host = address.mid(1, close - 1);
        const QString rest = address.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(QLatin1Char(':'))) {
            return false;
        }
        portText = rest.mid(1);
        if (rest.isEmpty()) {
            portText.clear();
        }
    } else {
        const qsizetype colon = address.lastIndexOf(QLatin1Char(':'));
        // A bare IPv6 address has several colons and no port.
        if (colon >= 0 && address.indexOf(QLatin1Char(':')) == colon) {
            *host = address.left(colon);
            portText = address.mid(colon + 1);
        } else {
            *host = address;
        }
    }
    if (host->isEmpty()) {
        return false;
    }
    *port = 1883;
    if (address.endsWith(QLatin1Char(':')) || !portText.isEmpty()) {
        bool ok = false;
        const int value = portText.toInt(&ok);
        if (!ok || value < 1 || value > 65535) {
            return false;
        }
        *port = static_cast<quint16>(value);
    }
    return true;
}

bool CheckTopicPrefix(const QString& prefix, QString* reason) {
    if (prefix.contains(QLatin1Char('+')) || prefix.contains(QLatin1Char('#'))) {
        *reason = QStringLiteral("may not hold the wildcards \"+\" or \"#\"");
    } else if (prefix.startsWith(QLatin1Char('$'))) {
        *reason = QStringLiteral("may not start with \"$\", the broker's own topics");
    } else if (prefix.split(QLatin1Char('/')).contains(QString())) {
        *reason = QStringLiteral("may not have an empty level (a leading \"/\" or \"//\")");
    } else if (prefix.contains(QChar(0)) || prefix.toUtf8().size() > 60000) {
        *reason = QStringLiteral("may not hold a zero character or be longer than 60000 bytes");
    } else {
        return true;
    }
    return false;
}

BrokerOptions ReadBrokerConf(const QString& path) {
    QSettings conf(path, QSettings::IniFormat);
    return ReadBrokerConf(conf);
}

BrokerOptions ReadBrokerConf(QSettings& conf) {
    conf.beginGroup(QStringLiteral("mqtt"));
    BrokerOptions options;
    options.address = conf.value(QStringLiteral("host")).toString();
    options.topic = conf.value(QStringLiteral("topic")).toString();
    options.user = conf.value(QStringLiteral("user")).toString();
    options.caFile = conf.value(QStringLiteral("tls")).toString();
    options.energyUnit = conf.value(QStringLiteral("energy_unit")).toString().trimmed();
    options.control = conf.value(QStringLiteral("control")).toString().trimmed();
    conf.endGroup();
    return options;
}

bool ResolveBrokerSettings(const BrokerOptions& commandLine, const BrokerOptions& file,
                           const QByteArray& password, BrokerSettings* settings, QString* error,
                           const QString& confName) {
    const auto pick = [](const QString& first, const QString& second) {
        return first.isEmpty() ? second : first;
    };
    const QString address = pick(commandLine.address, file.address);
    *settings = BrokerSettings();
    settings->topicPrefix = pick(commandLine.topic, file.topic);
    while (settings->topicPrefix.endsWith(QLatin1Char('/'))) {
        settings->topicPrefix.chop(1);
    }
    settings->user = pick(commandLine.user, file.user);
    settings->caFile = pick(commandLine.caFile, file.caFile);
    if (!settings->caFile.isEmpty() && !QFileInfo(settings->caFile).isReadable()) {
        // Retrying for ever would not make it appear.
        *error = QStringLiteral("the CA certificate file %1 cannot be read").arg(settings->caFile);
        return false;
    }
    const QString unit = pick(commandLine.energyUnit, file.energyUnit);
    if (!unit.isEmpty() && unit != QLatin1String("Wh") && unit != QLatin1String("kWh")) {
        *error = QStringLiteral("energy_unit in the [mqtt] section of %1 must be Wh or kWh, not \"%2\"")
                     .arg(confName, unit);
        return false;
    }
    settings->deviceCountsKwh = unit == QLatin1String("kWh");
    const QString control = pick(commandLine.control, file.control).toLower();
    const QStringList yes{QStringLiteral("true"), QStringLiteral("yes"), QStringLiteral("on"),
                          QStringLiteral("1")};
    const QStringList no{QStringLiteral("false"), QStringLiteral("no"), QStringLiteral("off"),
                         QStringLiteral("0")};
    if (!control.isEmpty() && !yes.contains(control) && !no.contains(control)) {
        *error = QStringLiteral("control in the [mqtt] section of %1 must be true or false, not \"%2\"")
                     .arg(confName, control);
        return false;
    }
    settings->control = yes.contains(control);
    QString reason;
    if (!settings->topicPrefix.isEmpty() && !CheckTopicPrefix(settings->topicPrefix, &reason)) {
        *error = QStringLiteral("the MQTT topic prefix \"%1\" %2").arg(settings->topicPrefix, reason);
        return false;
    }
    if (address.isEmpty()) {
        if (!settings->topicPrefix.isEmpty() || !settings->user.isEmpty() || !settings->caFile.isEmpty() ||
            settings->control) {
            *error = QStringLiteral("the MQTT options need a broker: --mqtt HOST[:PORT] or host in the "
                                    "[mqtt] section of %1")
                         .arg(confName);
            return false;
        }
        return true; // no publishing
    }
    if (!ParseBrokerAddress(address, &settings->host, &settings->port)) {
        *error = QStringLiteral("the MQTT broker must be HOST or HOST:PORT with a port from 1 to 65535, not "
                                "\"%1\"")
                     .arg(address);
        return false;
    }
    settings->password = password;
    return true;
}

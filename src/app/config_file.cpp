#include "app/config_file.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

bool ApplyConfigFile(CommandLine* options, BrokerOptions* broker, QString* error) {
    const bool named = !options->config.isEmpty();
    const QString path = named ? options->config : QString::fromLatin1(kBrokerConfFile);
    if (!QFileInfo::exists(path) && !named) {
        return true;
    }
    QSettings conf(path, QSettings::IniFormat);
    if (!QFileInfo(path).isReadable() || conf.status() != QSettings::NoError) {
        *error = QStringLiteral("cannot read the settings file %1").arg(path);
        return false;
    }
    *broker = ReadBrokerConf(path);
    if (options->classic.isEmpty()) {
        options->classic = conf.value(QStringLiteral("address")).toString();
    }
    const QString port = conf.value(QStringLiteral("port")).toString();
    if (options->port.isEmpty() && !port.isEmpty() && !ParsePort(port, &options->port)) {
        *error = QStringLiteral("port in %1 must be a whole number from 1 to 65535").arg(path);
        return false;
    }
    if (options->poll.isEmpty()) {
        options->poll = conf.value(QStringLiteral("poll")).toString();
    }
    return true;
}

bool EnterWorkingFolder(const QString& folder, QString* error) {
    if (folder.isEmpty()) {
        return true;
    }
    if (!QDir().mkpath(folder) || !QDir::setCurrent(folder)) {
        *error = QStringLiteral("cannot make or enter the working folder %1").arg(folder);
        return false;
    }
    return true;
}

#include "app/config_file.h"

#include "support/text_forms.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

bool ReadSettingsFile(const QString& named, SettingsFile* settings, QString* error) {
    *settings = SettingsFile();
    const QString path = named.isEmpty() ? QString::fromLatin1(kBrokerConfFile) : named;
    if (!QFileInfo::exists(path) && named.isEmpty()) {
        return true;
    }
    QSettings conf(path, QSettings::IniFormat);
    if (!QFileInfo(path).isReadable() || conf.status() != QSettings::NoError) {
        *error = QStringLiteral("cannot read the settings file %1").arg(path);
        return false;
    }
    const auto fail = [&](const QString& reason) {
        *error = QStringLiteral("%1 in %2").arg(reason, path);
        return false;
    };
    settings->path = path;
    settings->address = conf.value(QStringLiteral("address")).toString();
    const QString port = conf.value(QStringLiteral("port")).toString();
    if (!port.isEmpty() && !ParsePort(port, &settings->port)) {
        return fail(QStringLiteral("port must be a whole number from 1 to 65535"));
    }
    settings->poll = conf.value(QStringLiteral("poll")).toString();
    double seconds = 0;
    const double ms = ParseNumber(settings->poll, &seconds) ? RoundHalfEven(seconds * 1000.0) : 0;
    if (!settings->poll.isEmpty() && (ms < 1 || ms > 65535)) {
        return fail(QStringLiteral("poll must be a number of seconds from 0.001 to 65.535"));
    }
    settings->mqtt = ReadBrokerConf(conf);
    QString reason;
    if (!ReadChargeSettings(conf, &settings->charge, &reason) ||
        !ReadHistorySettings(conf, &settings->history, &reason)) {
        return fail(reason);
    }
    return true;
}

void ApplySettingsFile(const SettingsFile& settings, CommandLine* options) {
    if (options->classic.isEmpty()) {
        options->classic = settings.address;
    }
    if (options->port.isEmpty()) {
        options->port = settings.port;
    }
    if (options->poll.isEmpty()) {
        options->poll = settings.poll;
    }
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

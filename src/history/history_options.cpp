#include "history/history_options.h"

#include <QFileInfo>
#include <QScopeGuard>
#include <QSettings>

bool ReadHistorySettings(const QString& path, HistorySettings* settings, QString* error) {
    if (path.isEmpty() || !QFileInfo(path).isFile()) {
        return true;
    }
    QSettings file(path, QSettings::IniFormat);
    return ReadHistorySettings(file, settings, error);
}

bool ReadHistorySettings(QSettings& file, HistorySettings* settings, QString* error) {
    file.beginGroup(QStringLiteral("history"));
    const auto done = qScopeGuard([&file] { file.endGroup(); });
    for (const auto& [key, value] :
         {std::pair{"reserve_mb", &settings->reserveMb}, std::pair{"max_mb", &settings->maxMb}}) {
        const QString name = QString::fromLatin1(key);
        if (!file.contains(name)) {
            continue;
        }
        bool ok = false;
        const qint64 mb = file.value(name).toString().trimmed().toLongLong(&ok);
        if (!ok || mb < 0) {
            *error = QStringLiteral("[history] %1 must be a whole number of MiB, 0 or more").arg(name);
            return false;
        }
        *value = mb;
    }
    return true;
}

void ApplyHistorySettings(const HistorySettings& settings, HistoryOptions* options) {
    options->reserveBytes = settings.reserveMb << 20;
    options->maxBytes = settings.maxMb << 20;
}

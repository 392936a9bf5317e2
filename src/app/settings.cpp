#include "app/settings.h"

#include "model/form.h"
#include "support/file_utils.h"

#include <QFile>

const char* const kSettingsFile = "ModbusClient.ini";

QString SettingsFileName() {
    return FindFileIgnoringCase(QString::fromLatin1(kSettingsFile));
}

void ReadSettings(Form& form, const QString& path) {
    QString lines[4];
    bool present[4] = {false, false, false, false};
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        const QStringList all = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
        // A final line end does not start a fifth (or a missing) line.
        const int count = static_cast<int>(all.size()) - (all.last().isEmpty() ? 1 : 0);
        for (int i = 0; i < 4 && i < count; ++i) {
            lines[i] = all[i];
            if (lines[i].endsWith(QLatin1Char('\r'))) {
                lines[i].chop(1);
            }
            present[i] = true;
        }
    }
    if (present[0] && !lines[0].isEmpty()) {
        form.IP = lines[0];
    }
    if (present[1] && !lines[1].isEmpty()) {
        form.BatteryToday = lines[1];
    }
    form.RegisterDetails = present[2] ? lines[2] : QString();
    form.BatterySoC = present[3] ? lines[3] : QStringLiteral("BatterySoC.log");
}

#include "decode/soc_log.h"

#include "model/form.h"
#include "support/clock.h"
#include "support/text_forms.h"

#include <QFile>

void LogSoc(const Form& form, const Clock& clock) {
    if (form.BatterySoC.isEmpty()) {
        return;
    }
    const QDateTime now = clock.now();
    const QString line =
        HostDate(now) + QLatin1Char(' ') + HostTime(now) + QLatin1Char(' ') + form.BatteryPercent + CrLf();
    QFile file(form.BatterySoC);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        file.write(line.toUtf8());
    }
}

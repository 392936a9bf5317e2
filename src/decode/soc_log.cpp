#include "decode/soc_log.h"

#include "model/form.h"
#include "support/appended_file.h"
#include "support/clock.h"
#include "support/file_failures.h"
#include "support/text_forms.h"

bool LogSoc(const Form& form, const Clock& clock, FileFailure* failure) {
    if (form.BatterySoC.isEmpty()) {
        return true;
    }
    const QDateTime now = clock.now();
    const QString line =
        HostDate(now) + QLatin1Char(' ') + HostTime(now) + QLatin1Char(' ') + form.BatteryPercent + CrLf();
    failure->procedure = QStringLiteral("LogSoc");
    return AppendWholeLines(form.BatterySoC, line.toUtf8(), AppendSync::Paced, failure, 3);
}

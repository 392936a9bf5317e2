#include "controls/control_log.h"

#include "link/status_pane.h"
#include "support/appended_file.h"
#include "support/clock.h"
#include "support/file_failures.h"
#include "support/text_forms.h"

const char* const kControlLogFile = "ModbusClient control.log";

QString KwText(double kw) {
    return DecimalText(kw) + QStringLiteral(" kW");
}

QString PercentText(int value) {
    return QString::number(value) + QStringLiteral(" %");
}

QString Quoted(const QString& text) {
    constexpr int kMost = 200;
    return QLatin1Char('"') + (text.size() > kMost ? text.left(kMost) + QStringLiteral("...") : text) +
           QLatin1Char('"');
}

void ControlLog::status(const QString& text) {
    status_.AppendStatusLine(text);
}

void ControlLog::line(const QString& source, const QString& action, double powerKw,
                      const std::optional<int>& target, const QString& reason) {
    const QString targetText = target ? PercentText(*target) : QStringLiteral("no target");
    const QString said = QStringLiteral("Managed charge %1 (%2): %3, %4, %5")
                             .arg(action, source, KwText(powerKw), targetText, reason);
    status(said);
    if (notice) {
        notice(said);
    }
    const QString path = QString::fromLatin1(kControlLogFile);
    const QString text = HostNow(clock_.now()) + QStringLiteral(", ") + source + QStringLiteral(", ") +
                         action + QStringLiteral(", ") + KwText(powerKw) + QStringLiteral(", ") + targetText +
                         QStringLiteral(", ") + reason + CrLf();
    // A whole line or nothing, whatever the disk and the power do.
    FileFailure failure;
    failure.procedure = QStringLiteral("ControlLog");
    if (AppendWholeLines(path, text.toUtf8(), AppendSync::Paced, &failure, 10)) {
        failures_.succeeded(path);
        return;
    }
    failures_.failed(path, failure, QString());
}

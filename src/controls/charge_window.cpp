#include "controls/charge_window.h"

#include "support/text_forms.h"

#include <QRegularExpression>
#include <QSettings>

const char* const kChargeSection = "charge";

QDateTime ChargeWindow::startHolding(const QDateTime& t) const {
    if (!enabled()) {
        return {};
    }
    const QTime now = t.time();
    if (from < to) {
        return now >= from && now < to ? QDateTime(t.date(), from) : QDateTime();
    }
    if (now >= from) {
        return QDateTime(t.date(), from);
    }
    return now < to ? QDateTime(t.date().addDays(-1), from) : QDateTime();
}

QDateTime ChargeWindow::endAfter(const QDateTime& start) const {
    return QDateTime(from < to ? start.date() : start.date().addDays(1), to);
}

QString ChargeWindow::text() const {
    return from.toString(QStringLiteral("HH:mm")) + QLatin1Char('-') + to.toString(QStringLiteral("HH:mm"));
}

bool ReadChargeWindow(const QString& path, ChargeWindow* window, QString* error) {
    *window = ChargeWindow();
    QSettings conf(path, QSettings::IniFormat);
    conf.beginGroup(QString::fromLatin1(kChargeSection));
    if (conf.childKeys().isEmpty()) {
        return true;
    }
    const auto fail = [error](const QString& reason) {
        *error = QStringLiteral("[charge] ") + reason;
        return false;
    };
    static const QRegularExpression span(
        QStringLiteral("^\\s*(\\d{1,2}:\\d{2})\\s*-\\s*(\\d{1,2}:\\d{2})\\s*$"));
    const auto match = span.match(conf.value(QStringLiteral("window")).toString());
    const QTime from =
        match.hasMatch() ? QTime::fromString(match.captured(1), QStringLiteral("H:mm")) : QTime();
    const QTime to =
        match.hasMatch() ? QTime::fromString(match.captured(2), QStringLiteral("H:mm")) : QTime();
    if (!from.isValid() || !to.isValid() || from == to) {
        return fail(QStringLiteral("window must be HH:MM-HH:MM, two different local times"));
    }
    double power = 0;
    if (!ParseNumber(conf.value(QStringLiteral("power")).toString(), &power) || !(power > 0)) {
        return fail(QStringLiteral("power must be a number of kW above 0"));
    }
    const QString target = conf.value(QStringLiteral("target_soc")).toString();
    double soc = 0;
    if (!target.trimmed().isEmpty() &&
        (!ParseNumber(target, &soc) || soc != RoundHalfEven(soc) || soc < 0 || soc > 100)) {
        return fail(QStringLiteral("target_soc must be a whole percentage from 0 to 100"));
    }
    window->from = from;
    window->to = to;
    window->powerKw = power;
    if (!target.trimmed().isEmpty()) {
        window->targetSoc = static_cast<int>(soc);
    }
    return true;
}

#include "controls/charge_window.h"

#include "support/text_forms.h"

#include <QRegularExpression>
#include <QSettings>

const char* const kChargeSection = "charge";

QDateTime WallTime(const QDate& date, const QTime& time) {
    QDateTime at(date, time);
    // Qt has no instant for a wall time in a skipped hour: the first valid minute after it,
    // counted on the wall.
    QDate day = date;
    QTime wall = QTime(time.hour(), time.minute());
    for (int minutes = 1; !at.isValid() && minutes <= 24 * 60; ++minutes) {
        const QTime next = wall.addSecs(60);
        day = next < wall ? day.addDays(1) : day;
        wall = next;
        at = QDateTime(day, wall);
    }
    // In a repeated hour the same wall time stood an hour earlier too: that one comes first.
    QDateTime earlier = at.addSecs(-3600);
    if (earlier.date() == at.date() && earlier.time() == at.time()) {
        return earlier;
    }
    return at;
}

QDateTime ChargeWindow::startOf(const QDate& night) const {
    return WallTime(night, from);
}

QDateTime ChargeWindow::endOf(const QDate& night) const {
    return WallTime(from < to ? night : night.addDays(1), to);
}

QDate ChargeWindow::nightHolding(const QDateTime& t) const {
    if (!enabled()) {
        return {};
    }
    for (const QDate& night : {t.date().addDays(-1), t.date()}) {
        if (startOf(night) <= t && t < endOf(night)) {
            return night;
        }
    }
    return {};
}

QString ChargeWindow::text() const {
    return from.toString(QStringLiteral("HH:mm")) + QLatin1Char('-') + to.toString(QStringLiteral("HH:mm"));
}

bool ReadChargeSettings(QSettings& conf, ChargeSettings* settings, QString* error) {
    *settings = ChargeSettings();
    conf.beginGroup(QString::fromLatin1(kChargeSection));
    const QString window = conf.value(QStringLiteral("window")).toString();
    const QString powerText = conf.value(QStringLiteral("power")).toString();
    const QString target = conf.value(QStringLiteral("target_soc")).toString();
    const QString wait = conf.value(QStringLiteral("end_wait")).toString();
    const bool empty = conf.childKeys().isEmpty();
    const bool plan = !conf.value(QStringLiteral("plan")).toString().trimmed().isEmpty();
    QString planError;
    const bool planRead = ReadPlanSettings(conf, &settings->plan, &planError);
    conf.endGroup();
    if (empty) {
        return true;
    }
    const auto fail = [error](const QString& reason) {
        *error = QStringLiteral("[charge] ") + reason;
        return false;
    };
    double seconds = 0;
    if (!wait.trimmed().isEmpty()) {
        if (!ParseNumber(wait, &seconds) || seconds < 1 || seconds > 600) {
            return fail(QStringLiteral("end_wait must be a number of seconds from 1 to 600"));
        }
        settings->endWaitMs = static_cast<int>(seconds * 1000);
    }
    if (plan) {
        if (!window.trimmed().isEmpty()) {
            return fail(QStringLiteral(
                "window and plan exclude each other: a fixed window, or a plan from the prices"));
        }
        *error = planError;
        return planRead;
    }
    if (window.trimmed().isEmpty() && powerText.trimmed().isEmpty() && target.trimmed().isEmpty()) {
        return true; // only end_wait: no nightly window
    }
    static const QRegularExpression span(
        QStringLiteral("^\\s*(\\d{1,2}:\\d{2})\\s*-\\s*(\\d{1,2}:\\d{2})\\s*$"));
    const auto match = span.match(window);
    const QTime from =
        match.hasMatch() ? QTime::fromString(match.captured(1), QStringLiteral("H:mm")) : QTime();
    const QTime to =
        match.hasMatch() ? QTime::fromString(match.captured(2), QStringLiteral("H:mm")) : QTime();
    if (!from.isValid() || !to.isValid() || from == to) {
        return fail(QStringLiteral("window must be HH:MM-HH:MM, two different local times (not \"%1\")")
                        .arg(window.left(40)));
    }
    double power = 0;
    if (!ParseNumber(powerText, &power) || !(power > 0)) {
        return fail(QStringLiteral("power must be a number of kW above 0"));
    }
    double soc = 0;
    if (!target.trimmed().isEmpty() &&
        (!ParseNumber(target, &soc) || soc != RoundHalfEven(soc) || soc < 0 || soc > 100)) {
        return fail(QStringLiteral("target_soc must be a whole percentage from 0 to 100"));
    }
    ChargeWindow& w = settings->window;
    w.from = from;
    w.to = to;
    w.powerKw = power;
    if (!target.trimmed().isEmpty()) {
        w.targetSoc = static_cast<int>(soc);
    }
    return true;
}

#include "controls/forced_charge.h"

#include "link/connection.h"
#include "model/form.h"
#include "support/prompter.h"
#include "support/text_forms.h"

const char* const kChargeRateMessage = "Charge rate must be a number of kW from 0 to 65.535";

bool ChargeWatts(const QString& text, double* kilowatts, int32_t* watts) {
    // The longest leading part that reads as a number, as "2.5 kW" gives 2.5. Unlike a plain
    // leading-number read, a text with no number at its start is told apart from 0.
    for (qsizetype len = text.size(); len > 0; --len) {
        double k = 0;
        if (!ParseNumber(text.left(len), &k)) {
            continue;
        }
        *kilowatts = k;
        return KilowattsToWatts(k, watts);
    }
    return false;
}

bool KilowattsToWatts(double kilowatts, int32_t* watts) {
    const double w = RoundHalfEven(kilowatts * 1000.0);
    // A negative power is refused even where it rounds to 0 W.
    if (!(kilowatts >= 0 && w <= 65535)) {
        return false;
    }
    *watts = static_cast<int32_t>(w);
    return true;
}

QList<QPair<int32_t, int32_t>> ForcedChargeWrites(int32_t watts) {
    return {{60310, 0}, {60314, watts}};
}

void ForceChargecmd_Click(Form& form, ModbusLink& link, Prompter& prompter) {
    if (!form.isConnected) {
        prompter.message(QStringLiteral("not connected"));
        return;
    }
    double kilowatts = 0;
    int32_t watts = 0;
    if (!ChargeWatts(form.ChargeRate, &kilowatts, &watts)) {
        prompter.message(QString::fromLatin1(kChargeRateMessage));
        return;
    }
    for (const auto& [reg, value] : ForcedChargeWrites(watts)) {
        link.SendWriteRegister(reg, value);
    }
    prompter.message(QStringLiteral("Forced charge request sent: ") + DecimalText(kilowatts) +
                     QStringLiteral(" kW"));
}

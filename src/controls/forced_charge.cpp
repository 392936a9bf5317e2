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
        const double w = RoundHalfEven(k * 1000.0);
        // A negative power is refused even where it rounds to 0 W.
        if (!(k >= 0 && w <= 65535)) {
            return false;
        }
        *kilowatts = k;
        *watts = static_cast<int32_t>(w);
        return true;
    }
    return false;
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
    link.SendWriteRegister(60310, 0);
    link.SendWriteRegister(60314, watts);
    prompter.message(QStringLiteral("Forced charge request sent: ") + DecimalText(kilowatts) +
                     QStringLiteral(" kW"));
}

#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <cstdint>

struct Form;
class ModbusLink;
class Prompter;

extern const char* const kChargeRateMessage;

// The kilowatts at the start of a ChargeRate text and the watts they make (ties to even).
// False when the text does not start with a number or the watts are outside 0 to 65535, the
// values one register can carry faithfully.
bool ChargeWatts(const QString& text, double* kilowatts, int32_t* watts);
// The watts of a kilowatt figure (ties to even); false outside 0 to 65535 W.
bool KilowattsToWatts(double kilowatts, int32_t* watts);

// The forced-charge command as register and value, in the order they go out: 0 (charge) to
// 60310, then the watts to 60314. The end of a charge is the same command with 0 W.
QList<QPair<int32_t, int32_t>> ForcedChargeWrites(int32_t watts);

// "Charge": writes 0 (charge) to 60310 and the watts to 60314, back to back, then confirms.
// Refuses, sending nothing, when not connected or when the text gives no faithful watt figure.
void ForceChargecmd_Click(Form& form, ModbusLink& link, Prompter& prompter);

#pragma once

struct Form;
class Clock;

// Appends "date time BatteryPercent" to the file named by BatterySoC; nothing when it is empty.
// Failures are ignored: the line is lost, the cycle goes on.
void LogSoc(const Form& form, const Clock& clock);

#pragma once

struct Form;
class Clock;
struct FileFailure;

// Appends "date time BatteryPercent" to the file named by BatterySoC, as one whole line or not at
// all; nothing when BatterySoC is empty. False, and why, when the line could not be written: the
// caller reports it, the cycle goes on.
bool LogSoc(const Form& form, const Clock& clock, FileFailure* failure);

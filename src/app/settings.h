#pragma once

#include <QString>

struct Form;

extern const char* const kSettingsFile;

// Fills the fields from the four lines of the settings file: IP and BatteryToday only when not
// empty, RegisterDetails always (missing: empty), BatterySoC always (missing: "BatterySoC.log").
void ReadSettings(Form& form, const QString& path);

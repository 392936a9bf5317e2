#pragma once

#include <QString>

struct Form;

extern const char* const kSettingsFile;

// The settings file as it is on disk, whatever its letter case ("modbusclient.ini").
QString SettingsFileName();

// Fills the fields from the four lines of the settings file: IP and BatteryToday only when not
// empty, RegisterDetails always (missing: empty), BatterySoC always (missing: "BatterySoC.log").
void ReadSettings(Form& form, const QString& path);

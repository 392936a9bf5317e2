#pragma once

#include <QString>

struct Form;
class StatusPane;

// Fixes the register map by hand: "Talvex" or "SunSpec", exactly.
void SetDeviceManual(Form& form, StatusPane& status, const QString& typ);

// The register-map list's choice: DeviceMode takes the entry's text; the manual entries also
// set ManualDeviceType.
void ApplySelType(Form& form, const QString& entry);

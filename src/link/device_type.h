#pragma once

#include <QString>

struct Form;
class ModbusLink;
class StatusPane;

// Fixes the register map by hand: "Talvex" or "SunSpec", exactly.
void SetDeviceManual(Form& form, StatusPane& status, const QString& typ);

// The register-map list's choice: DeviceMode takes the entry's text; the manual entries also
// set ManualDeviceType.
void ApplySelType(Form& form, const QString& entry);

// Asks for the two registers of the SunSpec signature at 40000; the answer (4 bytes) goes to
// DecodeOther. Transaction id 0 keeps it apart from the poll's.
void RequestSunSpecSignature(StatusPane& status, ModbusLink& link);

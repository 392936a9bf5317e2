#pragma once

#include <QString>

struct FileFailure;

extern const char* const kEnergyUnitFile;
extern const char* const kAnnouncedFile;

// The unit the working folder's counters were published in until now. The same unit, or none
// remembered yet, is remembered and true; another is false with what the change would do to Home
// Assistant's statistics and how to confirm it (deleting the file).
bool RememberEnergyUnit(bool countsKwh, QString* error);

// The device last announced to Home Assistant from this folder: its serial number (printable) and
// the prefix of its topics. Empty when none was.
struct Announced {
    QString serial;
    QString prefix;
};
Announced ReadAnnounced();
bool WriteAnnounced(const Announced& announced, FileFailure* failure);

#pragma once

#include <QString>

struct Form;
class Prompter;
class FileFailures;

extern const char* const kNightFile;
extern const char* const kDailySummaryFile;

// The night snapshot as it is on disk, whatever its letter case ("batterynight.txt" first);
// "BatteryNight.txt" when there is none.
QString NightFileName();

// Loads the four night counters from the night snapshot, found whatever its letter case.
// A missing file leaves them as they were.
void readNight(Form& form);

// Copies the battery state file to the night snapshot and appends it, under the last poll's
// date and time, to the daily summary. The first failing step ends it with a message and a
// report; the night snapshot is replaced only by a whole copy, the summary never keeps half a block.
void DaySave(const Form& form, Prompter& prompter, FileFailures& failures);

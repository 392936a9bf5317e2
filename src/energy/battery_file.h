#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

struct Form;
class Clock;
class ErrorLog;
struct FileFailure;

// The 16 lines of the battery state file, each ended by CR LF, in UTF-8 as the file holds them.
QByteArray BatteryFileBytes(const Form& form, const Clock& clock);

// Writes the battery state file under its name with ".tmp" appended, checked to the last byte on
// disk; false and why when any of it is missing. written, when given, receives the bytes.
bool WriteBatteryTemp(const Form& form, const Clock& clock, FileFailure* failure,
                      QByteArray* written = nullptr);

// Writes the battery state file under its name with ".tmp" appended. True only when the whole
// file was written; otherwise one error-log entry says that the state file was left as it was.
bool writebattery(const Form& form, const Clock& clock, ErrorLog& log);

// The lines of a whole battery state file: the 16 keys in their order, each line ended, no NUL.
// False for anything else (a file a power cut or a full disk left short or padded).
bool ParseBatteryFile(const QByteArray& bytes, QStringList* lines);

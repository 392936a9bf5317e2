#pragma once

#include <QString>

// The classic error numbers, so that log entries read the same as on the installation's other
// tools: run-time numbers for files and conversions, Winsock numbers for sockets. One table for
// each source of an error.

// "Disk full" for 61, "Permission denied" for 70 ...
QString ClassicErrorText(int number);
// A file operation's errno: 76 path not found, 70 permission denied, 61 disk full, 52 bad file
// name, 75 for the rest.
int ClassicErrnoNumber(int error);
// A socket's errno: 10061 refused, 10060 timed out, 10065 unreachable, 10054 reset, 10053 else.
int ClassicSocketErrno(int error);

// A request with no connection to send it on.
constexpr int kNotConnectedNumber = 40006;
extern const char* const kNotConnectedText;

// Why a file could not be written: the classic error number, the failing step and procedure.
struct FileFailure {
    int number = 0;
    int step = 0;
    QString procedure;
    QString description;
};

// Fills in a failed step with its classic number and text; false, for a writer to return.
bool RecordFileFailure(FileFailure* failure, int number, int step, const QString& procedure);

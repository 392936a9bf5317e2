#include "support/classic_errors.h"

#include <cerrno>

const char* const kNotConnectedText =
    "Wrong protocol or connection state for the requested transaction or request";

QString ClassicErrorText(int number) {
    switch (number) {
    case 6:
        return QStringLiteral("Overflow");
    case 13:
        return QStringLiteral("Type mismatch");
    case 52:
        return QStringLiteral("Bad file name or number");
    case 53:
        return QStringLiteral("File not found");
    case 61:
        return QStringLiteral("Disk full");
    case 70:
        return QStringLiteral("Permission denied");
    case 75:
        return QStringLiteral("Path/File access error");
    case 76:
        return QStringLiteral("Path not found");
    default:
        return QStringLiteral("Application-defined or object-defined error");
    }
}

int ClassicErrnoNumber(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return 76;
    case EACCES:
    case EPERM:
    case EROFS:
    case ELOOP:
        return 70;
    case ENOSPC:
    case EDQUOT:
        return 61;
    case ENAMETOOLONG:
        return 52;
    default:
        return 75;
    }
}

int ClassicSocketErrno(int error) {
    switch (error) {
    case ECONNREFUSED:
        return 10061;
    case ETIMEDOUT:
        return 10060;
    case EHOSTUNREACH:
    case ENETUNREACH:
        return 10065;
    case ECONNRESET:
    case EPIPE:
        return 10054;
    default:
        return 10053;
    }
}

bool RecordFileFailure(FileFailure* failure, int number, int step, const QString& procedure) {
    failure->number = number;
    failure->step = step;
    failure->procedure = procedure;
    failure->description = ClassicErrorText(number);
    return false;
}

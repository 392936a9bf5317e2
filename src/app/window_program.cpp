#include "app/window_program.h"

#include "support/journal.h"

#include <QByteArray>
#include <QString>

#include <cerrno>
#include <climits>
#include <cstring>
#include <unistd.h>

namespace {

// Beside the client in the build tree; in libexec under an installed prefix.
QByteArray WindowProgramPath() {
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) {
        return {};
    }
    const QByteArray exe(self, static_cast<int>(n));
    const QByteArray dir = exe.left(exe.lastIndexOf('/') + 1);
    QByteArray beside = dir + "ModbusClient-window";
    if (::access(beside.constData(), X_OK) == 0) {
        return beside;
    }
    return dir + "../libexec/modbusclient/ModbusClient-window";
}

} // namespace

int RunWindowProgram(char** argv) {
    const QByteArray path = WindowProgramPath();
    if (!path.isEmpty()) {
        ::execv(path.constData(), argv);
    }
    const int error = errno;
    PrintToStderr(Priority::Error,
                  QStringLiteral("ModbusClient: cannot start the window program %1: %2; it comes "
                                 "with the package modbusclient-gui, and --headless runs without a window")
                      .arg(QString::fromLocal8Bit(path), QString::fromLocal8Bit(std::strerror(error))));
    return 1;
}

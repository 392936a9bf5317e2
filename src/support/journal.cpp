#include "support/journal.h"

#include <QStringList>

#include <cstdio>

QByteArray PriorityPrefix(Priority priority) {
    static const bool journal = qEnvironmentVariableIsSet("JOURNAL_STREAM");
    return journal ? QByteArray("<") + QByteArray::number(static_cast<int>(priority)) + '>' : QByteArray();
}

void PrintToStderr(Priority priority, const QString& text) {
    QByteArray out;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        out += PriorityPrefix(priority) + line.toLocal8Bit() + '\n';
    }
    std::fputs(out.constData(), stderr);
    std::fflush(stderr);
}

void PrefixQtMessages() {
    if (PriorityPrefix(Priority::Info).isEmpty()) {
        return;
    }
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& message) {
        const Priority priority = type == QtCriticalMsg || type == QtFatalMsg ? Priority::Error
                                  : type == QtWarningMsg                      ? Priority::Warning
                                                                              : Priority::Info;
        PrintToStderr(priority, qFormatLogMessage(type, context, message));
    });
}

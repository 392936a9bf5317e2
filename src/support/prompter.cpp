#include "support/prompter.h"

#include <cstdio>

void StderrPrompter::message(const QString& text) {
    // One line per prompt, so that a journal or a pipe keeps it together.
    QString line = text;
    line.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    std::fputs(line.toLocal8Bit().constData(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

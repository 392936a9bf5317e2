#include "support/prompter.h"

#include "support/journal.h"

void StderrPrompter::message(const QString& text) {
    // One line per prompt, so that a journal or a pipe keeps it together.
    QString line = text;
    line.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    PrintToStderr(Priority::Warning, line);
}

void StderrPrompter::repeated(const QString& text) {
    if (!said_.contains(text)) {
        said_.insert(text);
        message(text);
    }
}

#pragma once

#include <QString>
#include <QStringList>

// The operator-facing message seam. message() always returns at once: the GUI shows a
// non-blocking box, headless mode writes one line on standard error, tests record.
class Prompter {
public:
    virtual ~Prompter() = default;
    virtual void message(const QString& text) = 0;
};

class StderrPrompter : public Prompter {
public:
    void message(const QString& text) override;
};

class RecordingPrompter : public Prompter {
public:
    void message(const QString& text) override { messages.append(text); }
    QStringList messages;
};

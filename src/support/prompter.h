#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

// The operator-facing message seam. message() always returns at once: the GUI shows a
// non-blocking box, headless mode writes one line on standard error, tests record.
class Prompter {
public:
    virtual ~Prompter() = default;
    virtual void message(const QString& text) = 0;
    // A failure that repeats every tick while it lasts (an installation away): said once per run
    // of it, which ended() closes. A box already says it once while it is open.
    virtual void repeated(const QString& text) { message(text); }
    virtual void ended(const QString& /*text*/) {}
};

class StderrPrompter : public Prompter {
public:
    void message(const QString& text) override;
    void repeated(const QString& text) override;
    void ended(const QString& text) override { said_.remove(text); }

private:
    QSet<QString> said_;
};

class RecordingPrompter : public Prompter {
public:
    void message(const QString& text) override { messages.append(text); }
    QStringList messages;
};

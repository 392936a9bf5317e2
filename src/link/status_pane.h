#pragma once

#include <QString>
#include <functional>

struct Form;

// Writes the status pane txtStatus. echo, when set, sees every new line (headless mode prints it).
class StatusPane {
public:
    explicit StatusPane(Form& form) : form_(form) {}

    // The pane's text, then the message, then CR LF; the caret stays where it was.
    void AppendStatusLine(const QString& message);
    // The whole pane becomes this one line (block A's fresh start of a cycle).
    void Replace(const QString& message);
    // Selection start at the end of the text, selection length 0.
    void CaretToEnd();

    std::function<void(const QString&)> echo;

private:
    Form& form_;
};

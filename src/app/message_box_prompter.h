#pragma once

#include "support/prompter.h"

#include <QObject>
#include <QPointer>
#include <QSet>

class QWidget;

// Application-modal message box with an OK button, opened without a nested event loop so that
// message() returns at once. A text already on screen is not shown a second time.
class MessageBoxPrompter : public Prompter {
public:
    explicit MessageBoxPrompter(QWidget* parent = nullptr) : parent_(parent) {}
    void message(const QString& text) override;
    int openCount() const { return static_cast<int>(open_.size()); }

private:
    QPointer<QWidget> parent_;
    QSet<QString> open_;
    // Receiver of the boxes' signals, so that a box closing after the prompter is gone is harmless.
    QObject context_;
};

#pragma once

#include "support/prompter.h"

#include <QHash>
#include <QObject>
#include <QPointer>

class QMessageBox;
class QWidget;

// Message box with an OK button over the main window, shown without a nested event loop so that
// message() returns at once. While a box shows, the program's other windows take no input (the
// operator answers first), yet closing the main window still ends the program: Qt's own
// modality would drop the window manager's close. A text already on screen is not shown twice.
class MessageBoxPrompter : public Prompter {
public:
    explicit MessageBoxPrompter(QWidget* parent = nullptr) : parent_(parent) {}
    ~MessageBoxPrompter() override;
    // The window the boxes belong to: they stay over it and go with it.
    void setWindow(QWidget* window) { parent_ = window; }
    void message(const QString& text) override;
    int openCount() const { return static_cast<int>(open_.size()); }

private:
    // Swallows the input meant for any window but the boxes, and brings the newest box forward.
    class InputBlocker : public QObject {
    public:
        explicit InputBlocker(const QHash<QString, QPointer<QMessageBox>>& open) : open_(open) {}
        bool eventFilter(QObject* watched, QEvent* event) override;

    private:
        const QHash<QString, QPointer<QMessageBox>>& open_;
    };

    QPointer<QWidget> parent_;
    QHash<QString, QPointer<QMessageBox>> open_;
    // Also the receiver of the boxes' signals, so that a box closing after the prompter is gone is
    // harmless.
    InputBlocker blocker_{open_};
};

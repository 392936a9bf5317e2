#include "app/message_box_prompter.h"

#include <QApplication>
#include <QMessageBox>

MessageBoxPrompter::~MessageBoxPrompter() {
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->removeEventFilter(&blocker_);
    }
}

void MessageBoxPrompter::message(const QString& text) {
    if (open_.contains(text)) {
        return;
    }
    auto* box = new QMessageBox(QMessageBox::NoIcon, QCoreApplication::applicationName(), text,
                                QMessageBox::Ok, parent_);
    box->setObjectName(QStringLiteral("message"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    // Qt's modality would drop the main window's close while the box shows; the blocker below
    // stands in for it.
    box->setWindowModality(Qt::NonModal);
    if (open_.isEmpty()) {
        QCoreApplication::instance()->installEventFilter(&blocker_);
    }
    open_.insert(text, box);
    QObject::connect(box, &QObject::destroyed, &blocker_, [this, text] {
        open_.remove(text);
        if (open_.isEmpty()) {
            QCoreApplication::instance()->removeEventFilter(&blocker_);
        }
    });
    box->show(); // not open(), which makes the box window-modal
}

bool MessageBoxPrompter::InputBlocker::eventFilter(QObject* watched, QEvent* event) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || !event->isInputEvent()) {
        return false;
    }
    for (const QPointer<QMessageBox>& box : open_) {
        if (box != nullptr && widget->window() == box) {
            return false;
        }
    }
    if (event->type() == QEvent::MouseButtonPress) {
        for (const QPointer<QMessageBox>& box : open_) {
            if (box != nullptr) {
                box->raise();
                box->activateWindow();
            }
        }
    }
    return true;
}

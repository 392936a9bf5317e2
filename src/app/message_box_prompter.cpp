#include "app/message_box_prompter.h"

#include <QCoreApplication>
#include <QMessageBox>

void MessageBoxPrompter::message(const QString& text) {
    if (open_.contains(text)) {
        return;
    }
    auto* box = new QMessageBox(QMessageBox::NoIcon, QCoreApplication::applicationName(), text,
                                QMessageBox::Ok, parent_);
    box->setObjectName(QStringLiteral("message"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    open_.insert(text);
    QObject::connect(box, &QObject::destroyed, &context_, [this, text] { open_.remove(text); });
    box->open();
}

#include "ui/uMessages.h"

#include <QApplication>
#include <QMessageBox>

namespace Messages {
namespace {
THandler& Handler() {
    static THandler handler;
    return handler;
}
TConfirmHandler& ConfirmHandler() {
    static TConfirmHandler handler;
    return handler;
}
} // namespace

void Show(QWidget* AParent, const QString& AText) {
    if (Handler()) {
        Handler()(AParent, AText);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), AText, QMessageBox::Ok,
                    AParent);
    box.exec();
}

void SetHandler(THandler AHandler) {
    Handler() = std::move(AHandler);
}

bool Confirm(QWidget* AParent, const QString& AText) {
    if (ConfirmHandler())
        return ConfirmHandler()(AParent, AText);
    QMessageBox box(QMessageBox::Question, QApplication::applicationName(), AText,
                    QMessageBox::Yes | QMessageBox::No, AParent);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void SetConfirmHandler(TConfirmHandler AHandler) {
    ConfirmHandler() = std::move(AHandler);
}

} // namespace Messages

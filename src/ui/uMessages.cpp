#include "ui/uMessages.h"

#include <QApplication>
#include <QMessageBox>

namespace Messages {
namespace {
THandler& Handler() {
    static THandler handler;
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

void SetHandler(THandler AHandler) { Handler() = std::move(AHandler); }

} // namespace Messages

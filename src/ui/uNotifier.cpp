#include "ui/uNotifier.h"

#include "platform/uDesktopNotification.h"

#include <QSystemTrayIcon>

TNotifier::TNotifier(QSystemTrayIcon* ATray, QObject* AParent) : QObject(AParent), FTray(ATray) {}

void TNotifier::Announce(const QString& ATitle, const QString& AText, int ATimeoutMs) {
    Q_EMIT Announced(ATitle, AText);
    if (FTray != nullptr && QSystemTrayIcon::isSystemTrayAvailable() && FTray->isVisible()) {
        FTray->showMessage(ATitle, AText, QSystemTrayIcon::NoIcon, ATimeoutMs);
        return;
    }
    ShowDesktopNotification(ATitle, AText, ATimeoutMs);
}

#include "ui/uNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QSystemTrayIcon>
#include <QVariantMap>

TNotifier::TNotifier(QSystemTrayIcon* ATray, QObject* AParent) : QObject(AParent), FTray(ATray) {}

void TNotifier::Announce(const QString& ATitle, const QString& AText, int ATimeoutMs) {
    Q_EMIT Announced(ATitle, AText);
    if (FTray != nullptr && QSystemTrayIcon::isSystemTrayAvailable() && FTray->isVisible()) {
        FTray->showMessage(ATitle, AText, QSystemTrayIcon::NoIcon, ATimeoutMs);
        return;
    }
#ifndef Q_OS_WIN
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // No icon, as the balloons have none.
    call << QStringLiteral("Pictoport") << uint(0) << QString() << ATitle << AText
         << QStringList() << QVariantMap() << ATimeoutMs;
    // Fire and forget: a missing notification service must not stall the window.
    bus.call(call, QDBus::NoBlock);
#endif
}

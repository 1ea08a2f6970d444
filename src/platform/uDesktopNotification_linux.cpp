#include "platform/uDesktopNotification.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace {
// Servers that speak body markup would read a received name like "a<b>c&d.jpg" as tags.
QString PlainBody(QString AText) {
    return AText.replace(u'&', QStringLiteral("&amp;"))
        .replace(u'<', QStringLiteral("&lt;"))
        .replace(u'>', QStringLiteral("&gt;"));
}
} // namespace

void ShowDesktopNotification(const QString& ATitle, const QString& AText, int ATimeoutMs) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // No icon, as the balloons have none.
    call << QStringLiteral("Pictoport") << uint(0) << QString() << ATitle << PlainBody(AText)
         << QStringList() << QVariantMap() << ATimeoutMs;
    bus.call(call, QDBus::NoBlock);
}

#pragma once
#include <QObject>
#include <QString>

class QSystemTrayIcon;

// Announces arrivals: a balloon from the notification-area icon, or, where the
// desktop has no notification area, a message through the desktop notification
// service (org.freedesktop.Notifications).
class TNotifier : public QObject {
    Q_OBJECT
public:
    explicit TNotifier(QSystemTrayIcon* ATray, QObject* AParent = nullptr);
    void Announce(const QString& ATitle, const QString& AText, int ATimeoutMs = 10000);

Q_SIGNALS:
    // Every announcement, whichever way it went (tests and diagnostics).
    void Announced(const QString& ATitle, const QString& AText);

private:
    QSystemTrayIcon* FTray;
};

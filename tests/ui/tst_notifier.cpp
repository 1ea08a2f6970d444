// Announcements where the desktop has no notification area (the offscreen platform has
// none): they go to the desktop notification service. The test runs on a private
// session bus and plays that service itself.
#include "ui/uNotifier.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QSystemTrayIcon>
#include <QtTest>

class TNotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList Summaries, Bodies;
    QList<int> Timeouts;

public Q_SLOTS:
    uint Notify(const QString& AApp, uint, const QString&, const QString& ASummary,
                const QString& ABody, const QStringList&, const QVariantMap&, int ATimeout) {
        Q_UNUSED(AApp);
        Summaries << ASummary;
        Bodies << ABody;
        Timeouts << ATimeout;
        return uint(Summaries.size());
    }
};

class TestNotifier : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void announcesThroughTheNotificationService() {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected())
            QSKIP("needs a session bus (run under dbus-run-session)");
        TNotificationService service;
        QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service,
                                   QDBusConnection::ExportAllSlots));
        QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.Notifications")));
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());

        QSystemTrayIcon tray;
        TNotifier notifier(&tray);
        QSignalSpy announced(&notifier, &TNotifier::Announced);
        notifier.Announce(QStringLiteral("画像を受信しました"), QStringLiteral("IMG_0001.jpg"));
        QTRY_COMPARE(service.Summaries.size(), 1);
        QCOMPARE(service.Summaries[0], QStringLiteral("画像を受信しました"));
        QCOMPARE(service.Bodies[0], QStringLiteral("IMG_0001.jpg"));
        QCOMPARE(service.Timeouts[0], 10000);
        QCOMPARE(announced.size(), 1);

        // A received name is the sender's: it reaches the service as text, not markup.
        notifier.Announce(QStringLiteral("画像を受信しました"),
                          QStringLiteral("<b>a</b> & <img src=x>.jpg"));
        QTRY_COMPARE(service.Bodies.size(), 2);
        QCOMPARE(service.Bodies[1],
                 QStringLiteral("&lt;b&gt;a&lt;/b&gt; &amp; &lt;img src=x&gt;.jpg"));
        QCOMPARE(announced[1][1].toString(), QStringLiteral("<b>a</b> & <img src=x>.jpg"));
    }

    void noServiceIsNoProblem() {
        // Nobody owns the name: the call goes nowhere and the window carries on.
        TNotifier notifier(nullptr);
        notifier.Announce(QStringLiteral("t"), QStringLiteral("x"));
    }
};

QTEST_MAIN(TestNotifier)
#include "tst_notifier.moc"

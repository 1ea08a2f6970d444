// Password protection with the key in a real Secret Service (gnome-keyring, started
// by run-with-keyring.sh in a private session bus and HOME).
#include "settings/uPasswordProtection.h"
#include "settings/uPaths.h"
#include "settings/uSettings.h"

#include "common/uErrors.h"

#include <QFile>
#include <QtTest>

class TestKeyring : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            QSKIP("needs run-with-keyring.sh");
    }

    void keyLivesInKeyring() {
        const QString password = QStringLiteral("鍵束のパスワード");
        const QString enc = DpapiProtect(password);
        QVERIFY(!enc.isEmpty());
        QVERIFY2(!QFile::exists(ConfigDir() + QStringLiteral("/password.key")),
                 "the keyring is there, so no key file may be written");
        QCOMPARE(DpapiUnprotect(enc), password);
        // A second protection uses the same key: both blobs open.
        const QString enc2 = DpapiProtect(QStringLiteral("other"));
        QCOMPARE(DpapiUnprotect(enc), password);
        QCOMPARE(DpapiUnprotect(enc2), QStringLiteral("other"));
    }

    void settingsRoundTrip() {
        TAppSettings s;
        s.Load();
        s.Email = QStringLiteral("clinic@example.jp");
        s.Password = QStringLiteral("pw-123");
        s.Save();
        TAppSettings t;
        t.Load();
        QCOMPARE(t.Password, s.Password);
    }

    void passwordSealedWithoutKeyringStaysReadable() {
        // Sealed while there was no keyring: under the key file's key.
        qputenv("PICTOPORT_KEYRING", "off");
        const QString enc = DpapiProtect(QStringLiteral("from the file key"));
        qunsetenv("PICTOPORT_KEYRING");
        QVERIFY(QFile::exists(ConfigDir() + QStringLiteral("/password.key")));
        QCOMPARE(DpapiUnprotect(enc), QStringLiteral("from the file key"));
    }

    void foreignBlobFails() {
        // A well-formed blob sealed under some other key.
        QByteArray blob(1 + 24 + 16 + 4, '\x11');
        blob[0] = 1;
        try {
            DpapiUnprotect(QString::fromLatin1(blob.toBase64()));
            QFAIL("must not open");
        } catch (const TAppError& e) {
            QCOMPARE(e.Message(), QStringLiteral("パスワードの復号に失敗しました"));
        }
    }
};

QTEST_GUILESS_MAIN(TestKeyring)
#include "tst_keyring.moc"

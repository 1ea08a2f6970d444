// The window against a real Secret Service (gnome-keyring, started by
// run-with-keyring.sh): a password sealed under the keyring's key in another process is
// opened without holding the window up, whether the keyring answers at once or waits
// for an unlock prompt that nobody answers.
#include "settings/uIniFile.h"
#include "settings/uPasswordProtection.h"
#include "settings/uPaths.h"
#include "settings/uSettings.h"
#include "ui/fmMain.h"
#include "ui/uElidedLabel.h"
#include "ui/uMessages.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

namespace {

const QString SealedPassword = QStringLiteral("鍵束に守られたパスワード");

QString StoredBlob() {
    QFile file(IniPath());
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return TIniFile::Parse(file.readAll())
        .ReadString(QStringLiteral("auth"), QStringLiteral("password_enc"));
}

// Run alone, before the tests, while the keyring is open: settings that connect at
// start, with the password under the keyring's key. Nothing listens on port 1, so
// receiving starts and keeps retrying.
int Seal() {
    TAppSettings s;
    s.Load();
    s.ServerUrl = QStringLiteral("http://127.0.0.1:1");
    s.Email = QStringLiteral("clinic@example.jp");
    s.Password = SealedPassword;
    s.AutoConnect = true;
    s.Save();
    return QFile::exists(ConfigDir() + QStringLiteral("/password.key")) ? 1 : 0;
}

} // namespace

class TestKeyringWindow : public QObject {
    Q_OBJECT
    QString FSealed;
    QStringList FMessages;

    bool Locked() const { return qgetenv("KEYRING_STATE") == "locked"; }

private Q_SLOTS:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            QSKIP("needs run-with-keyring.sh");
        Messages::SetHandler([this](QWidget*, const QString& AText) { FMessages << AText; });
        FSealed = StoredBlob();
        QVERIFY2(!FSealed.isEmpty(), "the settings were sealed before the tests");
    }

    void opensAndConnects() {
        if (Locked())
            QSKIP("the keyring is locked");
        TFormMain form;
        QTRY_COMPARE(form.Connection()->edtPassword->text(), SealedPassword);
        QVERIFY(form.IsReceiving());
        QVERIFY(FMessages.isEmpty());
        form.StopReceiving();
        QVERIFY(form.close());
        QCOMPARE(StoredBlob(), FSealed); // unchanged: no new sealing needed
    }

    // An unlock prompt waits at sign-in. The window is up at once and says what it
    // waits for, and closing it neither waits nor loses the stored password.
    void lockedKeyringDoesNotHoldTheWindow() {
        if (!Locked())
            QSKIP("the keyring is open");
        {
            TFormMain form;
            form.show();
            QVERIFY(QTest::qWaitForWindowExposed(&form));
            QCoreApplication::processEvents();
            QCOMPARE(form.Connection()->lblStatus->text(),
                     QStringLiteral("保存されたパスワードを読み込んでいます…"));
            QVERIFY(form.Connection()->edtPassword->text().isEmpty());
            QVERIFY(!form.IsReceiving());
            QVERIFY(form.close());
        }
        QCOMPARE(StoredBlob(), FSealed);
    }

    // A password typed while the prompt waits is sealed without the keyring, and opens.
    void typedPasswordWhileKeyringWaits() {
        if (!Locked())
            QSKIP("the keyring is open");
        TFormMain form;
        form.Connection()->edtPassword->setText(QStringLiteral("typed"));
        form.Connection()->btnConnect->click();
        QVERIFY(form.IsReceiving());
        const QString blob = StoredBlob();
        QVERIFY(blob != FSealed);
        QCOMPARE(DpapiUnprotect(blob), QStringLiteral("typed"));
        form.StopReceiving();
        QVERIFY(form.close());
        QCOMPARE(StoredBlob(), blob);
    }
};

int main(int argc, char** argv) {
    if (argc == 2 && QByteArray(argv[1]) == "--seal") {
        QCoreApplication app(argc, argv);
        return Seal();
    }
    QApplication app(argc, argv);
    TestKeyringWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_keyringwindow.moc"

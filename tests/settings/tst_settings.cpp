// Settings file and password protection, against real files in a temporary HOME.
// The key lives in a key file here: the test runs without a session bus.
#include "settings/uIniFile.h"
#include "settings/uPasswordProtection.h"
#include "settings/uPaths.h"
#include "settings/uSettings.h"

#include "common/uErrors.h"
#include "uTestEnv.h"

#include <QDir>
#include <QFile>
#include <QtTest>
#include <sys/stat.h>

namespace {
QByteArray ReadAll(const QString& APath) {
    QFile f(APath);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
void WriteAll(const QString& APath, const QByteArray& ABytes) {
    QDir().mkpath(QFileInfo(APath).absolutePath());
    QFile f(APath);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(ABytes);
}
QString KeyFile() {
    return ConfigDir() + QStringLiteral("/password.key");
}
// No keyring and a folder where the key file would go: no key can be kept.
void NoKeyToBeHad() {
    QFile::remove(KeyFile());
    QDir().mkpath(KeyFile());
}
QString StoredPasswordInFile() {
    return TIniFile::Parse(ReadAll(IniPath()))
        .ReadString(QStringLiteral("auth"), QStringLiteral("password_enc"));
}
} // namespace

class TestSettings : public QObject {
    Q_OBJECT
    std::unique_ptr<TTestEnv> FEnv;

private Q_SLOTS:
    void init() {
        FEnv = std::make_unique<TTestEnv>();
        QVERIFY(IniPath().startsWith(FEnv->ConfigHome()));
    }

    void paths() {
        QCOMPARE(ConfigDir(), FEnv->ConfigHome() + QStringLiteral("/ScanlumeReceiver"));
        QCOMPARE(IniPath(), ConfigDir() + QStringLiteral("/settings.ini"));
        QCOMPARE(DefaultSaveFolder(), FEnv->PicturesDir() + QStringLiteral("/Scanlume"));
        QCOMPARE(FallbackTextFolder(), FEnv->DocumentsDir() + QStringLiteral("/ScanlumeReceiver"));
    }

    void joinPath_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("joined");
        QTest::newRow("plain") << "/a/b"
                               << "c.ini"
                               << "/a/b/c.ini";
        QTest::newRow("folder ends with delimiter") << "/a/b/"
                                                    << "c.ini"
                                                    << "/a/b/c.ini";
        QTest::newRow("empty folder: relative name") << ""
                                                     << "Scanlume"
                                                     << "Scanlume";
        QTest::newRow("empty name") << "/a"
                                    << ""
                                    << "/a";
        QTest::newRow("absolute name wins") << "/a"
                                            << "/x/y"
                                            << "/x/y";
    }
    void joinPath() {
        QFETCH(QString, folder);
        QFETCH(QString, name);
        QFETCH(QString, joined);
        QCOMPARE(JoinPath(folder, name), joined);
    }

    void defaultsWithoutFile() {
        TAppSettings s;
        s.Load();
        QCOMPARE(s.ServerUrl, DefaultServerUrl());
        QVERIFY(s.ServerUrl.startsWith(QStringLiteral("https://")));
        QCOMPARE(s.SaveFolder, DefaultSaveFolder());
        QVERIFY(s.Email.isEmpty() && s.Password.isEmpty());
        QVERIFY(s.AutoSave && !s.AutoConnect && !s.RunAtStartup);
    }

    void booleans_data() {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("autoSave");    // default true
        QTest::addColumn<bool>("autoConnect"); // default false
        QTest::newRow("yes keeps default") << QByteArray("yes") << true << false;
        QTest::newRow("empty keeps default") << QByteArray("") << true << false;
        QTest::newRow("2") << QByteArray("2") << true << true;
        QTest::newRow("-1") << QByteArray("-1") << true << true;
        QTest::newRow("0x1") << QByteArray("0x1") << true << true;
        QTest::newRow("0X1A") << QByteArray("0X1A") << true << true;
        QTest::newRow("0") << QByteArray("0") << false << false;
        QTest::newRow("0x0") << QByteArray("0x0") << false << false;
        QTest::newRow("padded 1") << QByteArray(" \t1 ") << true << true;
        QTest::newRow("1.5 not numeric") << QByteArray("1.5") << true << false;
        QTest::newRow("0x without digits") << QByteArray("0x") << true << false;
    }
    void booleans() {
        QFETCH(QByteArray, value);
        QFETCH(bool, autoSave);
        QFETCH(bool, autoConnect);
        WriteAll(IniPath(),
                 "[save]\r\nauto_save=" + value + "\r\n[app]\r\nauto_connect=" + value + "\r\n");
        TAppSettings s;
        s.Load();
        QCOMPARE(s.AutoSave, autoSave);
        QCOMPARE(s.AutoConnect, autoConnect);
    }

    void newFileBytes() {
        TAppSettings s;
        s.Load();
        s.ServerUrl = QStringLiteral("https://svc.example");
        s.Email = QStringLiteral("受付@example.jp");
        s.SaveFolder = QStringLiteral("/srv/スキャン");
        s.AutoConnect = true;
        s.Save();
        const QByteArray expected = "\xEF\xBB\xBF"
                                    "[server]\r\nurl=https://svc.example\r\n\r\n"
                                    "[auth]\r\nemail=" +
                                    QStringLiteral("受付@example.jp").toUtf8() +
                                    "\r\n\r\n"
                                    "[save]\r\nfolder=" +
                                    QStringLiteral("/srv/スキャン").toUtf8() +
                                    "\r\nauto_save=1\r\n\r\n"
                                    "[app]\r\nauto_connect=1\r\nrun_at_startup=0\r\n\r\n";
        QCOMPARE(ReadAll(IniPath()), expected);
    }

    void saveAndLoadRoundTrip_data() {
        QTest::addColumn<QString>("password");
        QTest::newRow("ascii") << QStringLiteral("s3cret!");
        QTest::newRow("japanese") << QStringLiteral("パスワード漢字テスト🔑");
        QTest::newRow("blanks kept") << QStringLiteral("  two words  ");
    }
    void saveAndLoadRoundTrip() {
        QFETCH(QString, password);
        TAppSettings s;
        s.Load();
        s.Email = QStringLiteral("a@b.c");
        s.Password = password;
        s.Save();
        const QByteArray file = ReadAll(IniPath());
        QVERIFY(file.contains("password_enc="));
        QVERIFY(!file.contains(password.toUtf8()));
        TAppSettings t;
        t.Load();
        QCOMPARE(t.Password, password);
        QCOMPARE(t.Email, s.Email);
    }

    void emptyPasswordLeavesNoKey() {
        TAppSettings s;
        s.Load();
        s.Password = QStringLiteral("x");
        s.Save();
        s.Password.clear();
        s.Save();
        QVERIFY(!ReadAll(IniPath()).contains("password_enc"));
    }

    // What a save writes for the stored password, by what happened to it since the load.
    // Only a new password needs the key: the others are written back byte for byte, so a
    // save works (and keeps the password) while the key cannot be had.
    void storedPasswordOnSave_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("opened");
        QTest::addColumn<QString>("expected"); // "same", "none" or "new"
        QTest::newRow("unchanged") << "" << true << "same";
        QTest::newRow("not opened yet") << "" << false << "same";
        QTest::newRow("cleared by the user") << "clear" << true << "none";
        QTest::newRow("new password") << "new" << true << "new";
        QTest::newRow("typed before it opened") << "new" << false << "new";
    }
    void storedPasswordOnSave() {
        QFETCH(QString, change);
        QFETCH(bool, opened);
        QFETCH(QString, expected);
        TAppSettings first;
        first.Load();
        first.Password = QStringLiteral("old");
        first.Save();
        const QString stored = StoredPasswordInFile();

        TAppSettings s;
        s.LoadFile();
        QVERIFY(s.Password.isEmpty());
        if (opened)
            s.AcceptOpenedPassword(TAppSettings::OpenPassword(s.StoredPassword));
        QCOMPARE(s.Password, opened ? QStringLiteral("old") : QString());
        if (change == QLatin1String("clear"))
            s.Password.clear();
        else if (change == QLatin1String("new"))
            s.Password = QStringLiteral("new");
        if (expected != QLatin1String("new"))
            NoKeyToBeHad();
        s.Save();
        if (expected == QLatin1String("same"))
            QCOMPARE(StoredPasswordInFile(), stored);
        else if (expected == QLatin1String("none"))
            QVERIFY(StoredPasswordInFile().isEmpty());
        else
            QCOMPARE(DpapiUnprotect(StoredPasswordInFile()), QStringLiteral("new"));
        // The next save has nothing new to seal.
        NoKeyToBeHad();
        s.Save();
        QCOMPARE(s.StoredPassword, StoredPasswordInFile());
    }

    // An opening that ends after a new password was saved is ignored.
    void lateOpeningOfAReplacedPassword() {
        TAppSettings s;
        s.Load();
        s.Password = QStringLiteral("old");
        s.Save();
        TAppSettings t;
        t.LoadFile();
        const TOpenedPassword late = TAppSettings::OpenPassword(t.StoredPassword);
        t.Password = QStringLiteral("typed");
        t.Save();
        t.AcceptOpenedPassword(late);
        QCOMPARE(t.Password, QStringLiteral("typed"));
        QCOMPARE(DpapiUnprotect(StoredPasswordInFile()), QStringLiteral("typed"));
    }

    void unknownKeysCommentsAndSectionOrder() {
        WriteAll(IniPath(), "; a comment\r\n"
                            "stray=outside any section\r\n"
                            "[auth]\r\nemail=old@x\r\nhand_added=lost\r\n"
                            "[server]\r\nurl=https://s\r\n[save]\r\nfolder=/f\r\n"
                            "[app]\r\n; another comment\r\nmy_key=kept\r\nauto_connect=1\r\n"
                            "[extra]\r\nfoo = bar baz \r\n"
                            "garbage line without equals\r\n"
                            "\x01\x02\xFF\xFE binary junk\r\n");
        TAppSettings s;
        s.Load();
        QCOMPARE(s.Email, QStringLiteral("old@x"));
        QVERIFY(s.AutoConnect);
        s.Save();
        const TIniFile ini = TIniFile::Parse(ReadAll(IniPath()));
        QCOMPARE(ini.SectionNames(), QStringList({"server", "save", "app", "extra", "auth"}));
        QCOMPARE(ini.ReadString(QStringLiteral("app"), QStringLiteral("my_key")),
                 QStringLiteral("kept"));
        QCOMPARE(ini.ReadString(QStringLiteral("extra"), QStringLiteral("foo")),
                 QStringLiteral("bar baz"));
        QVERIFY(!ini.HasKey(QStringLiteral("auth"), QStringLiteral("hand_added")));
        const QByteArray bytes = ReadAll(IniPath());
        QVERIFY(!bytes.contains("comment"));
        QVERIFY(!bytes.contains("stray"));
        QVERIFY(!bytes.contains("garbage"));
    }

    // A file near the size cap made of many sections or many keys loads and saves whole, in
    // a time that grows with its size alone (before, start-up spun for hours on one).
    void manySectionsAndKeys() {
        constexpr int count = 60000;
        QByteArray bytes;
        for (int i = 0; i < count; ++i)
            bytes += "[x" + QByteArray::number(i) + "]\r\n";
        bytes += "[auth]\r\nemail=many@x\r\n[extra]\r\n";
        for (int i = 0; i < count; ++i)
            bytes += "k" + QByteArray::number(i) + "=v\r\n";
        bytes += "K7=shadowed\r\n";
        WriteAll(IniPath(), bytes);
        TAppSettings s;
        s.Load();
        QVERIFY(!s.FileUnreadable);
        QCOMPARE(s.Email, QStringLiteral("many@x"));
        s.Save();
        const TIniFile ini = TIniFile::Parse(ReadAll(IniPath()));
        QCOMPARE(ini.SectionNames().size(), count + 5); // with auth, extra, server, save, app
        QCOMPARE(ini.ReadString(QStringLiteral("EXTRA"), QStringLiteral("k7")),
                 QStringLiteral("v"));
        QVERIFY(ini.HasKey(QStringLiteral("extra"), QStringLiteral("k59999")));
    }

    void namesInOtherCases() {
        WriteAll(IniPath(), "\xEF\xBB\xBF[Server]\nURL = https://case.example \n[AUTH]\nEmail=x@y\n"
                            "[Save]\nAuto_Save=0\n");
        TAppSettings s;
        s.Load();
        QCOMPARE(s.ServerUrl, QStringLiteral("https://case.example"));
        QCOMPARE(s.Email, QStringLiteral("x@y"));
        QVERIFY(!s.AutoSave);
        s.Save();
        const QByteArray bytes = ReadAll(IniPath());
        // The existing spelling is kept, and no second [server] section appears.
        QCOMPARE(bytes.count("[Server]"), 1);
        QVERIFY(!bytes.contains("[server]"));
    }

    void emptyUrlStaysEmpty() {
        WriteAll(IniPath(), "[server]\r\nurl=\r\n");
        TAppSettings s;
        s.Load();
        QVERIFY(s.ServerUrl.isEmpty());
    }

    void protectedForms_data() {
        QTest::addColumn<QString>("mangle"); // how the stored Base64 is rewritten
        QTest::newRow("split over lines") << "lines";
        QTest::newRow("blanks and tabs") << "pad";
    }
    void protectedForms() {
        QFETCH(QString, mangle);
        const QString password = QStringLiteral("診療所のパスワード");
        QString enc = DpapiProtect(password);
        QVERIFY(!enc.isEmpty());
        QVERIFY(!enc.contains(u'\n'));
        if (mangle == QLatin1String("lines")) {
            for (qsizetype i = enc.size() - 10; i > 0; i -= 10)
                enc.insert(i, QStringLiteral("\r\n"));
        } else {
            enc = QStringLiteral(" \t ") + enc.left(8) + QStringLiteral("\t \t") + enc.mid(8) +
                  QStringLiteral("  \t");
        }
        QCOMPARE(DpapiUnprotect(enc), password);
    }

    void paddedValueInFile() {
        const QString enc = DpapiProtect(QStringLiteral("pw"));
        WriteAll(IniPath(), "[auth]\r\npassword_enc= \t" + enc.left(4).toLatin1() + "\t" +
                                enc.mid(4).toLatin1() + " \t\r\n");
        TAppSettings s;
        s.Load();
        QCOMPARE(s.Password, QStringLiteral("pw"));
    }

    void onlyPaddingGivesEmpty() {
        QCOMPARE(DpapiUnprotect(QStringLiteral("====")), QString());
        QCOMPARE(DpapiUnprotect(QString()), QString());
        QCOMPARE(DpapiProtect(QString()), QString());
        WriteAll(IniPath(), "[auth]\r\nemail=e\r\npassword_enc====\r\n");
        TAppSettings s;
        s.Load();
        QCOMPARE(s.Password, QString());
        QCOMPARE(s.Email, QStringLiteral("e"));
    }

    void helpers() {
        QCOMPARE(StripWhitespace(QStringLiteral(" a\tb\r\nc\u3000d\u00A0")),
                 QStringLiteral("abc\u3000d\u00A0"));
        QCOMPARE(BytesToBase64(QByteArray(100, 'x')).contains(u'\n'), false);
        QCOMPARE(BytesToBase64("\xFB\xFF"), QStringLiteral("+/8="));
    }

    void keyFileFallback() {
        const QString enc = DpapiProtect(QStringLiteral("pw"));
        QFile key(KeyFile());
        QVERIFY(key.exists());
        QCOMPARE(key.size(), 32);
        QVERIFY(key.permissions().testFlags(QFile::ReadOwner | QFile::WriteOwner));
        QCOMPARE(key.permissions() &
                     (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
                 QFile::Permissions());
        // The same key serves the next protection.
        const QByteArray before = ReadAll(KeyFile());
        DpapiProtect(QStringLiteral("again"));
        QCOMPARE(ReadAll(KeyFile()), before);
        QCOMPARE(DpapiUnprotect(enc), QStringLiteral("pw"));
    }

    void untrustedOrForeignKey_data() {
        QTest::addColumn<QString>("damage");
        QTest::newRow("tampered blob") << "tamper";
        QTest::newRow("key readable by others") << "chmod";
        QTest::newRow("key of another user") << "otherkey";
        QTest::newRow("key file truncated") << "truncate";
        QTest::newRow("key file missing") << "delete";
        QTest::newRow("unknown blob version") << "version";
        QTest::newRow("blob too short") << "short";
    }
    void untrustedOrForeignKey() {
        QFETCH(QString, damage);
        TAppSettings s;
        s.Load();
        s.Email = QStringLiteral("e@x");
        s.Password = QStringLiteral("pw");
        s.Save();
        QString enc = TIniFile::Parse(ReadAll(IniPath())).ReadString("auth", "password_enc");
        QByteArray blob = QByteArray::fromBase64(enc.toLatin1());
        if (damage == QLatin1String("tamper"))
            blob[blob.size() - 1] = char(blob.at(blob.size() - 1) ^ 0x01);
        else if (damage == QLatin1String("version"))
            blob[0] = 2;
        else if (damage == QLatin1String("short"))
            blob = blob.left(20);
        else if (damage == QLatin1String("chmod"))
            QFile::setPermissions(KeyFile(), QFile::permissions(KeyFile()) | QFile::ReadOther);
        else if (damage == QLatin1String("otherkey"))
            WriteAll(KeyFile(), QByteArray(32, '\x5A'));
        else if (damage == QLatin1String("truncate"))
            WriteAll(KeyFile(), QByteArray(16, '\x01'));
        else if (damage == QLatin1String("delete"))
            QFile::remove(KeyFile());
        enc = QString::fromLatin1(blob.toBase64());

        try {
            DpapiUnprotect(enc);
            QFAIL("decryption must fail");
        } catch (const TAppError& e) {
            QCOMPARE(e.Message(), QStringLiteral("パスワードの復号に失敗しました"));
        }
        WriteAll(IniPath(), "[auth]\r\nemail=e@x\r\npassword_enc=" + enc.toLatin1() +
                                "\r\n[app]\r\nauto_connect=1\r\n");
        TAppSettings t;
        t.Load();
        QVERIFY(t.Password.isEmpty());
        QCOMPARE(t.Email, QStringLiteral("e@x"));
        QVERIFY(t.AutoConnect);
        QCOMPARE(t.PasswordError, QStringLiteral("パスワードの復号に失敗しました"));
        // A save keeps the stored password byte for byte, until a new one is set.
        t.Save();
        QCOMPARE(TIniFile::Parse(ReadAll(IniPath())).ReadString("auth", "password_enc"), enc);
        t.Password = QStringLiteral("new");
        t.Save();
        QVERIFY(TIniFile::Parse(ReadAll(IniPath())).ReadString("auth", "password_enc") != enc);
    }

    void failedSaveKeepsOldFile_data() {
        QTest::addColumn<QString>("obstacle");
        QTest::newRow("password cannot be protected") << "key";
        QTest::newRow("settings folder is a file") << "folder";
    }
    void failedSaveKeepsOldFile() {
        QFETCH(QString, obstacle);
        const QByteArray old = "\xEF\xBB\xBF[server]\r\nurl=https://old\r\n\r\n";
        WriteAll(IniPath(), old);
        TAppSettings s;
        s.Load();
        s.ServerUrl = QStringLiteral("https://new");
        s.Password = QStringLiteral("pw");
        if (obstacle == QLatin1String("key")) {
            NoKeyToBeHad();
        } else {
            QFile::remove(IniPath());
            QDir(ConfigDir()).removeRecursively();
            WriteAll(ConfigDir(), old);
        }
        try {
            s.Save();
            QFAIL("save must fail");
        } catch (const TAppError& e) {
            if (obstacle == QLatin1String("key"))
                QCOMPARE(e.Message(), QStringLiteral("パスワードの暗号化に失敗しました"));
            else
                QVERIFY(!e.Message().isEmpty());
        }
        if (obstacle == QLatin1String("key"))
            QCOMPARE(ReadAll(IniPath()), old);
        else
            QCOMPARE(ReadAll(ConfigDir()), old);
        const QStringList leftovers =
            QDir(QFileInfo(IniPath()).absolutePath()).entryList(QDir::Files | QDir::Hidden);
        for (const QString& f : leftovers)
            QVERIFY2(f == QLatin1String("settings.ini"), qPrintable(f));
    }

    // Notepad saves UTF-16 with a byte-order mark; others UTF-8 with or without one.
    void fileEncodings_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("readable");
        const QString text =
            QStringLiteral("[server]\r\nurl=http://例.jp\r\n[auth]\r\nemail=a@b\r\n");
        QByteArray le("\xFF\xFE"), be("\xFE\xFF");
        for (QChar c : text) {
            le.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
            be.append(char(c.unicode() >> 8)).append(char(c.unicode() & 0xFF));
        }
        QTest::newRow("UTF-8") << text.toUtf8() << true;
        QTest::newRow("UTF-8 with mark") << QByteArray("\xEF\xBB\xBF" + text.toUtf8()) << true;
        QTest::newRow("UTF-16 LE with mark") << le << true;
        QTest::newRow("UTF-16 BE with mark") << be << true;
        QTest::newRow("UTF-16 without mark") << le.mid(2) << false;
        QTest::newRow("not text") << QByteArray("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16) << false;
        QTest::newRow("over 4 MiB") << text.toUtf8() + QByteArray(4 << 20, ' ') << false;
    }
    void fileEncodings() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, readable);
        WriteAll(IniPath(), bytes);
        TAppSettings s;
        s.Load();
        QCOMPARE(s.FileUnreadable, !readable);
        QCOMPARE(s.ServerUrl, readable ? QStringLiteral("http://例.jp") : DefaultServerUrl());
        QCOMPARE(s.Email, readable ? QStringLiteral("a@b") : QString());
        s.Save();
        // What could not be read is kept aside, byte for byte, before the new file.
        QCOMPARE(QFile::exists(TAppSettings::BackupPath()), !readable);
        if (!readable)
            QCOMPARE(ReadAll(TAppSettings::BackupPath()), bytes);
        TAppSettings again;
        again.Load();
        QVERIFY(!again.FileUnreadable);
        QCOMPARE(again.ServerUrl, s.ServerUrl);
    }

    // What stands where the file should be but is no regular file is never read (a FIFO
    // would block the start, a device would be read without end) and never replaced.
    void notARegularFile_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("folder") << "folder";
        QTest::newRow("FIFO") << "fifo";
        QTest::newRow("link to /dev/zero") << "zero";
        QTest::newRow("dangling link") << "dangling";
    }
    void notARegularFile() {
        QFETCH(QString, kind);
        QDir().mkpath(ConfigDir());
        const QByteArray path = QFile::encodeName(IniPath());
        if (kind == QLatin1String("folder"))
            QVERIFY(QDir().mkpath(IniPath()));
        else if (kind == QLatin1String("fifo"))
            QCOMPARE(mkfifo(path.constData(), 0600), 0);
        else
            QVERIFY(QFile::link(kind == QLatin1String("zero")
                                    ? QStringLiteral("/dev/zero")
                                    : ConfigDir() + QStringLiteral("/gone"),
                                IniPath()));
        const QFileInfo before(IniPath());
        TAppSettings s;
        s.Load();
        QCOMPARE(s.ServerUrl, DefaultServerUrl());
        QVERIFY(!s.FileUnreadable); // nothing to keep aside: it stays where it is
        try {
            s.Save();
            QFAIL("saving must not replace what it could not read");
        } catch (const TAppError& e) {
            QVERIFY2(e.Message().startsWith(
                         QStringLiteral("設定ファイルが通常のファイルではありません")),
                     qPrintable(e.Message()));
        }
        const QFileInfo after(IniPath());
        QCOMPARE(after.isDir(), before.isDir());
        QCOMPARE(after.isSymLink(), before.isSymLink());
        QCOMPARE(after.isFile(), false);
    }

    void lineEnds_data() {
        QTest::addColumn<QByteArray>("eol");
        QTest::newRow("CR LF") << QByteArray("\r\n");
        QTest::newRow("LF") << QByteArray("\n");
        QTest::newRow("CR") << QByteArray("\r");
    }
    void lineEnds() {
        QFETCH(QByteArray, eol);
        WriteAll(IniPath(),
                 "[server]" + eol + "url=https://x" + eol + "[mine]" + eol + "k=v" + eol);
        TAppSettings s;
        s.Load();
        QCOMPARE(s.ServerUrl, QStringLiteral("https://x"));
        s.Save();
        QCOMPARE(TIniFile::Parse(ReadAll(IniPath())).ReadString("mine", "k"), QStringLiteral("v"));
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"

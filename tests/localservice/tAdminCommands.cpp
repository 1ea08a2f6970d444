// The administrator's commands run as real processes on a real data folder, beside a running
// service: accounts with their passwords never on the command line, and a backup that is the
// service's store again.
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include "uLocalService.h"

namespace {

struct TRun {
    int ExitCode = -1;
    QString Out;
    QString Err;
};

// Runs scanlume-local with AArgs, giving AInput on standard input (which is never a terminal
// here).
TRun Run(const QStringList& AArgs, const QByteArray& AInput = {}) {
    QProcess Process;
    Process.start(TLocalService::Program(), AArgs);
    Process.write(AInput);
    Process.closeWriteChannel();
    TRun Result;
    if (!Process.waitForFinished(60000)) {
        Process.kill();
        Process.waitForFinished();
        Result.Err = QStringLiteral("<did not finish>");
        return Result;
    }
    Result.ExitCode = Process.exitStatus() == QProcess::NormalExit ? Process.exitCode() : -1;
    Result.Out = QString::fromUtf8(Process.readAllStandardOutput());
    Result.Err = QString::fromUtf8(Process.readAllStandardError());
    return Result;
}

TLocalService::TOptions StoredAccountsOnly(const QString& AData) {
    TLocalService::TOptions Options;
    Options.Users.clear();
    Options.TestHooks = false;
    Options.DataFolder = AData;
    return Options;
}

QByteArray SignInBody(const QString& AEmail, const QString& APassword) {
    return QJsonDocument(QJsonObject{{"email", AEmail}, {"password", APassword}})
        .toJson(QJsonDocument::Compact);
}

int SignIn(TLocalService& AService, const QString& AEmail, const QString& APassword,
           QString* AToken = nullptr) {
    const auto Reply =
        AService.Call("POST", QStringLiteral("/api/auth/login"),
                      {{"Content-Type", "application/json"}}, SignInBody(AEmail, APassword));
    if (AToken != nullptr) {
        *AToken = QJsonDocument::fromJson(Reply.Body)["access_token"].toString();
    }
    return Reply.Status;
}

} // namespace

class TAdminCommandsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(!TLocalService::Program().isEmpty()); }

    // Added, used, changed and removed while the service runs, which follows each change: a
    // changed password or a removed account ends the tokens it had.
    void accountLifecycle() {
        QTemporaryDir Dir;
        const QString Data = Dir.filePath(QStringLiteral("data"));
        const QStringList At{"--data", Data};
        QCOMPARE(Run(QStringList{"user", "add", "--password-stdin", "Clinic@example.com"} + At,
                     "first password\n")
                     .ExitCode,
                 0);
        const TRun Again =
            Run(QStringList{"user", "add", "--password-stdin", "clinic@example.com"} + At,
                "other password\n");
        QCOMPARE(Again.ExitCode, 1);
        QVERIFY2(Again.Err.contains(QStringLiteral("exists already")), qPrintable(Again.Err));
        QCOMPARE(Run(QStringList{"user", "list"} + At).Out, QStringLiteral("Clinic@example.com\n"));
        // The data folder and what is in it are the service's user's alone.
        struct stat Info {};
        QCOMPARE(stat(QFile::encodeName(Data).constData(), &Info), 0);
        QCOMPARE(Info.st_mode & 0777, 0700u);
        QCOMPARE(stat(QFile::encodeName(Data + "/scanlume-local.db").constData(), &Info), 0);
        QCOMPARE(Info.st_mode & 0777, 0600u);
        QFile Database(Data + "/scanlume-local.db");
        QVERIFY(Database.open(QIODevice::ReadOnly));
        QVERIFY(!Database.readAll().contains("first password"));

        // A stored account lets the service listen beyond loopback; the demo account is gone.
        TLocalService Service;
        auto Options = StoredAccountsOnly(Data);
        Options.ExtraArgs = {"--listen", "0.0.0.0:0"};
        QVERIFY(Service.Start(Options));
        QCOMPARE(SignIn(Service, "demo@example.com", "secret"), 401);
        QString Token;
        QCOMPARE(SignIn(Service, "CLINIC@example.com", "first password", &Token), 200);
        const auto Poll = [&] { return Service.Poll(Token, 0).Status; };
        QCOMPARE(Poll(), 204);

        QCOMPARE(Run(QStringList{"user", "passwd", "--password-stdin", "clinic@example.com"} + At,
                     "second password\r\n")
                     .ExitCode,
                 0);
        QCOMPARE(Poll(), 401);
        QCOMPARE(SignIn(Service, "clinic@example.com", "first password"), 401);
        QCOMPARE(SignIn(Service, "clinic@example.com", "second password", &Token), 200);
        QCOMPARE(Poll(), 204);

        QCOMPARE(Run(QStringList{"user", "remove", "clinic@example.com"} + At).ExitCode, 0);
        QCOMPARE(Poll(), 401);
        QCOMPARE(SignIn(Service, "clinic@example.com", "second password"), 401);
        const TRun Empty = Run(QStringList{"user", "list"} + At);
        QCOMPARE(Empty.ExitCode, 0);
        QCOMPARE(Empty.Out, QString());
        QVERIFY2(Empty.Err.contains(QStringLiteral("user add")), qPrintable(Empty.Err));
    }

    void badUserCommands_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::newRow("no verb") << QStringList{"user"} << QByteArray() << 2
                                 << QStringLiteral("add, passwd, remove or list");
        QTest::newRow("unknown verb") << QStringList{"user", "delete", "a@b.c"} << QByteArray() << 2
                                      << QStringLiteral("unknown user command");
        QTest::newRow("no address")
            << QStringList{"user", "add", "--password-stdin"} << QByteArray("long enough\n") << 2
            << QStringLiteral("one e-mail address");
        // A password given on the command line would show in the process list.
        QTest::newRow("password as an argument")
            << QStringList{"user", "add", "a@b.c", "the-password"} << QByteArray() << 2
            << QStringLiteral("one e-mail address");
        QTest::newRow("not an address")
            << QStringList{"user", "add", "--password-stdin", "clinic"}
            << QByteArray("long enough\n") << 2 << QStringLiteral("not an e-mail address");
        QTest::newRow("short password")
            << QStringList{"user", "add", "--password-stdin", "a@b.c"} << QByteArray("short\n") << 1
            << QStringLiteral("at least 8 characters");
        QTest::newRow("no password given")
            << QStringList{"user", "add", "--password-stdin", "a@b.c"} << QByteArray() << 1
            << QStringLiteral("no password on standard input");
        QTest::newRow("no terminal to type at")
            << QStringList{"user", "add", "a@b.c"} << QByteArray("long enough\n") << 1
            << QStringLiteral("--password-stdin");
        QTest::newRow("unknown account")
            << QStringList{"user", "passwd", "--password-stdin", "x@b.c"}
            << QByteArray("long enough\n") << 1 << QStringLiteral("there is no account");
        QTest::newRow("remove unknown account")
            << QStringList{"user", "remove", "x@b.c"} << QByteArray() << 1
            << QStringLiteral("there is no account");
        QTest::newRow("option of another verb")
            << QStringList{"user", "list", "--discard-items"} << QByteArray() << 2
            << QStringLiteral("does not go with");
        QTest::newRow("backup without a file")
            << QStringList{"backup"} << QByteArray() << 2 << QStringLiteral("one file");
    }
    void badUserCommands() {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, input);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QTemporaryDir Dir;
        const TRun Result = Run(args + QStringList{"--data", Dir.path()}, input);
        QCOMPARE(Result.ExitCode, exitCode);
        QVERIFY2(Result.Err.contains(message), qPrintable(Result.Err));
        QCOMPARE(Run({"user", "list", "--data", Dir.path()}).Out, QString());
    }

    // Photos nobody has received are patients' data: removing their account needs saying so.
    void removingAnAccountKeepsItsWaitingItems() {
        QTemporaryDir Dir;
        const QStringList At{"--data", Dir.path()};
        QCOMPARE(Run(QStringList{"user", "add", "--password-stdin", "a@b.c"} + At, "long enough\n")
                     .ExitCode,
                 0);
        TLocalService Service;
        QVERIFY(Service.Start(StoredAccountsOnly(Dir.path())));
        QCOMPARE(Service.SendText(QStringLiteral("a@b.c:long enough"), QStringLiteral("検査")),
                 202);
        const TRun Refused = Run(QStringList{"user", "remove", "a@b.c"} + At);
        QCOMPARE(Refused.ExitCode, 1);
        QVERIFY2(Refused.Err.contains(QStringLiteral("--discard-items")), qPrintable(Refused.Err));
        QCOMPARE(Run(QStringList{"user", "list"} + At).Out, QStringLiteral("a@b.c\n"));
        QCOMPARE(Run(QStringList{"user", "remove", "--discard-items", "a@b.c"} + At).ExitCode, 0);
        QCOMPARE(Run(QStringList{"user", "list"} + At).Out, QString());
    }

    // Taken while the service runs and receives: the copy, put in an empty data folder, is the
    // store again, with the waiting items' bytes, the extraction items and the accounts.
    void backupIsTheStoreAgain() {
        QTemporaryDir Dir;
        const QString Data = Dir.filePath(QStringLiteral("data"));
        QCOMPARE(Run({"user", "add", "--password-stdin", "--data", Data, "a@b.c"}, "long enough\n")
                     .ExitCode,
                 0);
        TLocalService Service;
        QVERIFY(Service.Start(StoredAccountsOnly(Data)));
        const QString User = QStringLiteral("a@b.c:long enough");
        QByteArray Photo(300 * 1024, Qt::Uninitialized);
        for (int i = 0; i < Photo.size(); ++i) {
            Photo[i] = static_cast<char>(static_cast<unsigned>(i) * 7919u % 251u);
        }
        QCOMPARE(Service.SendFile(User, QStringLiteral("写真.jpg"), "image/jpeg", Photo), 202);
        QCOMPARE(Service.SendText(User, QStringLiteral("短い本文")), 202);
        const QJsonArray Items{
            QJsonObject{{"name", "CRP"}, {"aliases", QJsonArray{"C反応性蛋白"}}}};
        QCOMPARE(Service
                     .Call("PUT", QStringLiteral("/api/extraction/items"),
                           {{"Authorization", "Bearer " + Service.Token(User).toUtf8()},
                            {"Content-Type", "application/json"}},
                           QJsonDocument(QJsonObject{{"items", Items}}).toJson())
                     .Status,
                 200);

        const QString Copy = Dir.filePath(QStringLiteral("backup.db"));
        const TRun Backup = Run({"backup", "--data", Data, Copy});
        QCOMPARE(Backup.ExitCode, 0);
        QVERIFY(!QFile::exists(Copy + ".part"));
        // The service goes on meanwhile and hands its items out; the copy keeps them.
        const QString Token = Service.Token(User);
        QCOMPARE(Service.Poll(Token, 0).Status, 200);
        QCOMPARE(Service.Poll(Token, 0).Status, 200);

        const QString Restored = Dir.filePath(QStringLiteral("restored"));
        QVERIFY(QDir().mkpath(Restored));
        QVERIFY(QFile::copy(Copy, Restored + "/scanlume-local.db"));
        TLocalService Again;
        QVERIFY(Again.Start(StoredAccountsOnly(Restored)));
        const QString RestoredToken = Again.Token(User);
        QVERIFY(!RestoredToken.isEmpty());
        const auto First = Again.Poll(RestoredToken, 0);
        QCOMPARE(First.Status, 200);
        QCOMPARE(First.Body, Photo);
        QCOMPARE(QString::fromUtf8(Again.Poll(RestoredToken, 0).Body), QStringLiteral("短い本文"));
        QCOMPARE(Again.Poll(RestoredToken, 0).Status, 204);
        const auto Kept = Again.Call("GET", QStringLiteral("/api/extraction/items"),
                                     {{"Authorization", "Bearer " + RestoredToken.toUtf8()}});
        QCOMPARE(QJsonDocument::fromJson(Kept.Body)["items"].toArray(), Items);
    }

    void backupFailuresLeaveNothing_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("withDatabase");
        QTest::addColumn<QString>("message");
        QTest::newRow("folder that does not exist")
            << QStringLiteral("missing/backup.db") << true << QStringLiteral("cannot write");
        QTest::newRow("no database in the folder")
            << QStringLiteral("backup.db") << false << QStringLiteral("no database");
    }
    void backupFailuresLeaveNothing() {
        QFETCH(QString, target);
        QFETCH(bool, withDatabase);
        QFETCH(QString, message);
        QTemporaryDir Dir;
        const QString Data = Dir.filePath(QStringLiteral("data"));
        if (withDatabase) {
            QCOMPARE(
                Run({"user", "add", "--password-stdin", "--data", Data, "a@b.c"}, "long enough\n")
                    .ExitCode,
                0);
        }
        const TRun Result = Run({"backup", "--data", Data, Dir.filePath(target)});
        QCOMPARE(Result.ExitCode, 1);
        QVERIFY2(Result.Err.contains(message), qPrintable(Result.Err));
        QVERIFY(!QFile::exists(Dir.filePath(target)));
        QVERIFY(!QFile::exists(Dir.filePath(target) + ".part"));
        // A wrong --data is not made into an empty store.
        QCOMPARE(QFile::exists(Data + "/scanlume-local.db"), withDatabase);
    }

    // Run as another user than the folder's owner, a command would leave files the service
    // cannot write; it says as whom to run it instead.
    void runAsTheFolderOwner() {
        if (geteuid() != 0) {
            QSKIP("needs root to give the folder to another user");
        }
        QTemporaryDir Dir;
        const QString Data = Dir.filePath(QStringLiteral("data"));
        QVERIFY(QDir().mkpath(Data));
        QCOMPARE(chown(QFile::encodeName(Data).constData(), 65534, 65534), 0);
        const TRun Result = Run({"user", "list", "--data", Data});
        QCOMPARE(Result.ExitCode, 1);
        QVERIFY2(Result.Err.contains(QStringLiteral("sudo -u")), qPrintable(Result.Err));
        QVERIFY(!QFile::exists(Data + "/scanlume-local.db"));
    }
};

QTEST_MAIN(TAdminCommandsTest)
#include "tAdminCommands.moc"

// The command line of scanlume-local and its "send" subcommand, run as real processes.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include "uLocalService.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

namespace {

const QString kUser = QStringLiteral("demo@example.com:secret");
const QByteArray kPhoto("\xff\xd8"
                        "jpeg\0"
                        "data",
                        11);

struct TRun {
    int ExitCode = -1;
    QString Out;
    QString Err;
};

TRun Run(const QStringList& AArgs) {
    QProcess Process;
    Process.start(TLocalService::Program(), AArgs);
    TRun Result;
    if (!Process.waitForFinished(20000)) {
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

// An IPv4 address of this machine beyond loopback, or empty: a sign-in made to it comes from
// "the network" as the service sees it.
QString NetworkAddress() {
    ifaddrs* List = nullptr;
    if (getifaddrs(&List) != 0) {
        return {};
    }
    QString Found;
    for (ifaddrs* It = List; It != nullptr && Found.isEmpty(); It = It->ifa_next) {
        if (It->ifa_addr == nullptr || It->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        char Text[INET_ADDRSTRLEN] = {};
        const auto* Address = reinterpret_cast<const sockaddr_in*>(It->ifa_addr);
        if (inet_ntop(AF_INET, &Address->sin_addr, Text, sizeof(Text)) != nullptr &&
            !QByteArray(Text).startsWith("127.")) {
            Found = QString::fromLatin1(Text);
        }
    }
    freeifaddrs(List);
    return Found;
}

// "--data" and a new empty folder: each service started here has its own store, and none
// touches the user's own data folder.
QStringList FreshData() {
    static QTemporaryDir Folders;
    static int Count = 0;
    return {QStringLiteral("--data"), Folders.filePath(QString::number(++Count))};
}

// Starts scanlume-local with AArgs and its own data folder, and returns the address its ready
// line names, or empty when it did not get ready within 10 s.
QString StartListening(QProcess& AProcess, const QStringList& AArgs) {
    AProcess.start(TLocalService::Program(), FreshData() + AArgs);
    QByteArray Out;
    QElapsedTimer Timer;
    Timer.start();
    while (!Out.contains('\n') && Timer.elapsed() < 10000 && AProcess.waitForReadyRead(1000)) {
        Out += AProcess.readAllStandardOutput();
    }
    const qsizetype At = Out.indexOf("listening on ");
    return At < 0 ? QString() : QString::fromUtf8(Out.mid(At + 13).trimmed());
}

QString DecodeName(const QByteArray& AValue) {
    return QString::fromUtf8(QByteArray::fromPercentEncoding(QByteArray(AValue).replace('+', ' ')));
}

} // namespace

class TCommandLineTest : public QObject {
    Q_OBJECT

private:
    TLocalService FService;
    QTemporaryDir FDir;

    QString WriteFile(const QString& AName, const QByteArray& AData) {
        const QString Path = FDir.filePath(AName);
        QFile File(Path);
        if (!File.open(QIODevice::WriteOnly) || File.write(AData) != AData.size()) {
            qWarning() << "cannot write" << Path;
        }
        return Path;
    }

private slots:
    void initTestCase() {
        QVERIFY(!TLocalService::Program().isEmpty());
        QVERIFY(FDir.isValid());
        QVERIFY(FService.Start());
    }

    void badServiceArguments_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");

        QTest::newRow("unknown option")
            << QStringList{"--port", "1"} << 2 << QStringLiteral("unknown argument");
        QTest::newRow("listen without port")
            << QStringList{"--listen", "127.0.0.1"} << 2 << QStringLiteral("--listen");
        QTest::newRow("listen port out of range")
            << QStringList{"--listen", "127.0.0.1:70000"} << 2 << QStringLiteral("--listen");
        QTest::newRow("listen value missing")
            << QStringList{"--listen"} << 2 << QStringLiteral("needs a value");
        QTest::newRow("user without password")
            << QStringList{"--user", "demo@example.com"} << 2 << QStringLiteral("--user");
        QTest::newRow("certificate without key")
            << QStringList{"--tls-cert", "a.pem"} << 2 << QStringLiteral("--tls-key");
        QTest::newRow("unreadable certificate")
            << QStringList{"--listen",           "127.0.0.1:0", "--tls-cert",
                           "/nonexistent/c.pem", "--tls-key",   "/nonexistent/k.pem"}
            << 1 << QStringLiteral("certificate");
        QTest::newRow("max wait out of range")
            << QStringList{"--max-wait", "61"} << 2 << QStringLiteral("--max-wait");
        QTest::newRow("queue limit of zero")
            << QStringList{"--max-queued-mib", "0"} << 2 << QStringLiteral("--max-queued-mib");
        QTest::newRow("queue limit not a number")
            << QStringList{"--max-queued-mib=lots"} << 2 << QStringLiteral("--max-queued-mib");
        QTest::newRow("body limit of zero")
            << QStringList{"--max-body-mib", "0"} << 2 << QStringLiteral("--max-body-mib");
        QTest::newRow("body limit over 1 GiB")
            << QStringList{"--max-body-mib=1025"} << 2 << QStringLiteral("--max-body-mib");
        // The demo account's password is public: never on the clinic's network.
        QTest::newRow("demo account beyond loopback") << QStringList{"--listen", "0.0.0.0:0"} << 2
                                                      << QStringLiteral("scanlume-local user add");
        QTest::newRow("demo account on a LAN address")
            << QStringList{"--listen", "192.168.1.20:0"} << 2 << QStringLiteral("demo account");
        QTest::newRow("demo account on every IPv6 address")
            << QStringList{"--listen", "[::]:0"} << 2 << QStringLiteral("demo account");
    }

    // Where the demo account may serve, and the warning that --user is for trials.
    // The clinic's own authority and this machine's certificate: keys private, the authority
    // kept from run to run so that what trusts it goes on trusting, every name asked for named.
    void certificateForThisMachine() {
        QTemporaryDir Dir;
        const QString Out = Dir.filePath(QStringLiteral("tls"));
        const TRun First =
            Run({"certificate", "--out", Out, "--name", "clinic.example", "--ip", "192.168.1.20"});
        QCOMPARE(First.ExitCode, 0);
        for (const char* Key : {"ca.key", "key.pem"}) {
            QCOMPARE(QFile::permissions(Out + u'/' + QLatin1String(Key)) & 0x0077,
                     QFileDevice::Permissions());
        }
        const auto Read = [&](const QString& AName) {
            QFile File(Out + u'/' + AName);
            return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
        };
        const auto OpenSsl = [&](const QStringList& AArgs) {
            QProcess P;
            P.start(QStringLiteral("openssl"), AArgs);
            P.waitForFinished(20000);
            return P.exitCode() == 0 ? P.readAllStandardOutput() : QByteArray();
        };
        const QByteArray Names = OpenSsl({"x509", "-in", Out + "/cert.pem", "-noout", "-ext",
                                          "subjectAltName,extendedKeyUsage"});
        for (const char* Expected :
             {"DNS:clinic.example", "DNS:localhost", "IP Address:127.0.0.1",
              "IP Address:192.168.1.20", "IP Address:0:0:0:0:0:0:0:1", "TLS Web Server"}) {
            QVERIFY2(Names.contains(Expected), Names.constData());
        }
        QVERIFY(OpenSsl({"verify", "-CAfile", Out + "/ca.pem", Out + "/cert.pem"}).contains("OK"));
        const QByteArray Authority = Read(QStringLiteral("ca.pem"));
        const QByteArray Server = Read(QStringLiteral("cert.pem"));
        const TRun Second = Run({"certificate", "--out", Out});
        QCOMPARE(Second.ExitCode, 0);
        QCOMPARE(Read(QStringLiteral("ca.pem")), Authority);
        QVERIFY(Read(QStringLiteral("cert.pem")) != Server);
        QVERIFY(OpenSsl({"verify", "-CAfile", Out + "/ca.pem", Out + "/cert.pem"}).contains("OK"));
    }

    void certificateRefusesBadInput_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::newRow("no folder") << QStringList{"certificate"} << 2 << QStringLiteral("--out");
        QTest::newRow("not an address") << QStringList{"certificate", "--out", "x", "--ip", "nope"}
                                        << 2 << QStringLiteral("not an IP address");
        QTest::newRow("not a host name")
            << QStringList{"certificate", "--out", "x", "--name", "a b"} << 2
            << QStringLiteral("not a host name");
        QTest::newRow("a folder that cannot be made")
            << QStringList{"certificate", "--out", "/nonexistent/tls"} << 1
            << QStringLiteral("cannot write");
    }
    void certificateRefusesBadInput() {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        const TRun Result = Run(args);
        QCOMPARE(Result.ExitCode, exitCode);
        QVERIFY2(Result.Err.contains(message), qPrintable(Result.Err));
    }

    void accountsAndWhereTheyServe_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("warned");
        QTest::newRow("demo on loopback") << QStringList{"--listen", "127.0.0.1:0"} << false;
        QTest::newRow("demo on localhost") << QStringList{"--listen", "localhost:0"} << false;
        QTest::newRow("demo on another loopback address")
            << QStringList{"--listen", "127.0.0.2:0"} << false;
        QTest::newRow("an account on every address")
            << QStringList{"--listen", "0.0.0.0:0", "--user", "a@b.c:pw"} << true;
    }
    // Guessing the clinic's password from its Wi-Fi: after five wrong ones, 429 and a growing
    // wait, for the account and the address; this computer itself is not slowed.
    void signInIsSlowedFromTheNetwork() {
        const QString Address = NetworkAddress();
        if (Address.isEmpty()) {
            QSKIP("this machine has no address beyond loopback");
        }
        QProcess Process;
        const QString Listening =
            StartListening(Process, {"--listen", "0.0.0.0:0", "--user", "clinic@example.com:right",
                                     "--no-preload"});
        QVERIFY(!Listening.isEmpty());
        const QByteArray Port = QByteArray::number(QUrl(Listening).port());
        const auto SignIn = [&](const QString& AHost, const char* APassword) {
            return FService.Call(
                "POST",
                QStringLiteral("http://%1:%2/api/auth/login").arg(AHost, QString::fromLatin1(Port)),
                {{"Content-Type", "application/json"}},
                QByteArray(R"({"email":"clinic@example.com","password":")") + APassword + "\"}");
        };
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(SignIn(Address, "guess").Status, 401);
        }
        const auto Refused = SignIn(Address, "right");
        QCOMPARE(Refused.Status, 429);
        QCOMPARE(Refused.Header("Retry-After"), QByteArray("1"));
        QVERIFY2(QString::fromUtf8(Refused.Body).contains(QStringLiteral("秒後にもう一度")),
                 Refused.Body.constData());
        QCOMPARE(SignIn(QStringLiteral("127.0.0.1"), "right").Status, 200);
        QTest::qWait(1100);
        QCOMPARE(SignIn(Address, "right").Status, 200);
        QCOMPARE(SignIn(Address, "guess").Status, 401);
        Process.terminate();
        QVERIFY(Process.waitForFinished(10000));
    }

    // One line per request for the operator: never a password, a token, a query or a body.
    void requestLog_data() {
        QTest::addColumn<bool>("quiet");
        QTest::newRow("logged") << false;
        QTest::newRow("--quiet") << true;
    }
    void requestLog() {
        QFETCH(bool, quiet);
        QStringList Args{"--listen", "127.0.0.1:0", "--user", "clinic@example.com:pass-word-7",
                         "--no-preload"};
        if (quiet) {
            Args << "--quiet";
        }
        QProcess Process;
        const QString Base = StartListening(Process, Args);
        QVERIFY(!Base.isEmpty());
        const auto SignedIn =
            FService.Call("POST", Base + "/api/auth/login", {{"Content-Type", "application/json"}},
                          R"({"email":"clinic@example.com","password":"pass-word-7"})");
        QCOMPARE(SignedIn.Status, 200);
        const QByteArray Token =
            QJsonDocument::fromJson(SignedIn.Body)["access_token"].toString().toUtf8();
        QCOMPARE(FService
                     .Call("GET", Base + "/api/image-transfer/native/poll?wait=0&secret=q-7",
                           {{"Authorization", "Bearer " + Token}})
                     .Status,
                 204);
        QCOMPARE(FService.Call("GET", Base + "/no%0Awhere").Status, 404);
        Process.terminate();
        QVERIFY(Process.waitForFinished(10000));
        const QByteArray Err = Process.readAllStandardError();
        QCOMPARE(Err.contains("--user is for trials"), true);
        const QList<QByteArray> Lines = Err.split('\n');
        const auto Logged = [&](const QByteArray& AText) {
            return std::any_of(Lines.begin(), Lines.end(),
                               [&](const QByteArray& L) { return L.contains(AText); });
        };
        QCOMPARE(Logged(" 127.0.0.1 POST /api/auth/login 200 "), !quiet);
        QCOMPARE(Logged(" GET /api/image-transfer/native/poll 204 "), !quiet);
        QCOMPARE(Logged(" GET /no?where 404 "), !quiet);
        for (const QByteArray& Secret : {QByteArray("pass-word-7"), Token, QByteArray("q-7"),
                                         QByteArray("secret="), QByteArray("access_token")}) {
            QVERIFY2(!Err.contains(Secret), Secret.constData());
        }
    }

    void accountsAndWhereTheyServe() {
        QFETCH(QStringList, args);
        QFETCH(bool, warned);
        QProcess Process;
        QVERIFY(!StartListening(Process, args + QStringList{"--no-preload"}).isEmpty());
        Process.terminate();
        QVERIFY(Process.waitForFinished(10000));
        QCOMPARE(Process.exitCode(), 0);
        const QString Err = QString::fromUtf8(Process.readAllStandardError());
        QCOMPARE(Err.contains(QStringLiteral("--user is for trials")), warned);
    }

    void badServiceArguments() {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        const TRun Result = Run(FreshData() + args);
        QCOMPARE(Result.ExitCode, exitCode);
        QVERIFY2(Result.Err.contains(message), qPrintable(Result.Err));
        QVERIFY(!Result.Out.contains(QStringLiteral("listening on")));
    }

    void portInUseIsReported() {
        const TRun Result =
            Run(FreshData() +
                QStringList{"--listen", QStringLiteral("127.0.0.1:%1").arg(FService.Port())});
        QCOMPARE(Result.ExitCode, 1);
        QVERIFY2(Result.Err.contains(QStringLiteral("cannot listen")), qPrintable(Result.Err));
    }

    void helpIsShown() {
        for (const QStringList& Args : {QStringList{"--help"}, QStringList{"send", "--help"}}) {
            const TRun Result = Run(Args);
            QCOMPARE(Result.ExitCode, 0);
            QVERIFY(Result.Out.startsWith(QStringLiteral("usage: scanlume-local")));
        }
        const TRun Version = Run({"--version"});
        QCOMPARE(Version.ExitCode, 0);
        QVERIFY2(QRegularExpression(QStringLiteral(R"(^scanlume-local \d+\.\d+\.\d+)"))
                     .match(Version.Out)
                     .hasMatch(),
                 qPrintable(Version.Out));
    }

    void sendDeliversFilesAndTextsInOrder() {
        const QString Photo = WriteFile(QStringLiteral("写真 1+2.JPG"), kPhoto);
        const QString Other = WriteFile(QStringLiteral("scan.dat"), QByteArray("custom"));
        const TRun Result = Run({"send", "--server", FService.BaseUrl() + "/", "--user", kUser,
                                 "--file", Photo, "--file", Other, "--type", "application/x-scan",
                                 "--text", QStringLiteral("血糖 98"), "--text",
                                 QStringLiteral("メモ"), "--filename", QStringLiteral("メモ.txt")});
        QCOMPARE(Result.ExitCode, 0);
        QVERIFY2(Result.Err.isEmpty(), qPrintable(Result.Err));
        const QStringList Lines = Result.Out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(Lines.size(), 4);
        for (const QString& Line : Lines) {
            QVERIFY2(Line.startsWith(QStringLiteral("sent ")), qPrintable(Line));
        }

        struct TExpected {
            QString Name;
            QByteArray Type;
            QByteArray Body;
        };
        const QList<TExpected> Expected{
            {QStringLiteral("写真 1+2.JPG"), "image/jpeg", kPhoto},
            {QStringLiteral("scan.dat"), "application/x-scan", "custom"},
            {QStringLiteral("result.txt"), "text/plain; charset=utf-8",
             QStringLiteral("血糖 98").toUtf8()},
            {QStringLiteral("メモ.txt"), "text/plain; charset=utf-8",
             QStringLiteral("メモ").toUtf8()},
        };
        const QString Token = FService.Token(kUser);
        for (const TExpected& Item : Expected) {
            const auto Reply = FService.Poll(Token, 1);
            QCOMPARE(Reply.Status, 200);
            QCOMPARE(DecodeName(Reply.Header("X-Image-Filename")), Item.Name);
            QCOMPARE(Reply.Header("Content-Type"), Item.Type);
            QCOMPARE(Reply.Body, Item.Body);
        }
        QCOMPARE(FService.Poll(Token, 0).Status, 204);
    }

    void sendGuessesMediaTypes_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("type");
        QTest::newRow("jpeg") << QStringLiteral("a.jpeg") << QByteArray("image/jpeg");
        QTest::newRow("png") << QStringLiteral("a.PNG") << QByteArray("image/png");
        QTest::newRow("bmp") << QStringLiteral("a.bmp") << QByteArray("image/bmp");
        QTest::newRow("gif") << QStringLiteral("a.gif") << QByteArray("image/gif");
        QTest::newRow("pdf") << QStringLiteral("a.pdf") << QByteArray("application/pdf");
        QTest::newRow("txt") << QStringLiteral("a.txt") << QByteArray("text/plain; charset=utf-8");
        QTest::newRow("unknown") << QStringLiteral("a.heic")
                                 << QByteArray("application/octet-stream");
        QTest::newRow("no extension")
            << QStringLiteral("README") << QByteArray("application/octet-stream");
    }

    void sendGuessesMediaTypes() {
        QFETCH(QString, name);
        QFETCH(QByteArray, type);
        const QString Path = WriteFile(name, "x");
        const TRun Result =
            Run({"send", "--server", FService.BaseUrl(), "--user", kUser, "--file", Path});
        QCOMPARE(Result.ExitCode, 0);
        const auto Reply = FService.Poll(FService.Token(kUser), 1);
        QCOMPARE(Reply.Header("Content-Type"), type);
    }

    void sendFailuresAreReported_data() {
        QTest::addColumn<QStringList>("args"); // "URL" stands for the service's base URL
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");

        QTest::newRow("wrong password")
            << QStringList{"--server", "URL", "--user", "demo@example.com:nope", "--text", "x"} << 1
            << QStringLiteral("メールアドレスまたはパスワードが正しくありません");
        QTest::newRow("missing file")
            << QStringList{"--server", "URL", "--user", kUser,
                           "--text",   "x",   "--file", "/nonexistent/a.jpg"}
            << 1 << QStringLiteral("cannot read");
        QTest::newRow("nothing to send") << QStringList{"--server", "URL", "--user", kUser} << 2
                                         << QStringLiteral("nothing to send");
        QTest::newRow("type before any file")
            << QStringList{"--server", "URL", "--user", kUser, "--type", "image/png", "--file", "a"}
            << 2 << QStringLiteral("--type");
        QTest::newRow("filename after a file")
            << QStringList{"--server", "URL", "--user", kUser, "--file", "a", "--filename", "b"}
            << 2 << QStringLiteral("--filename");
        QTest::newRow("no server")
            << QStringList{"--user", kUser, "--text", "x"} << 2 << QStringLiteral("--server");
        QTest::newRow("not a URL")
            << QStringList{"--server", "localhost:1", "--user", kUser, "--text", "x"} << 2
            << QStringLiteral("--server");
        QTest::newRow("nobody listening")
            << QStringList{"--server", "http://127.0.0.1:1", "--user", kUser, "--text", "x"} << 1
            << QStringLiteral("cannot reach http://127.0.0.1:1: nothing answers there");
        QTest::newRow("https to a service that speaks http")
            << QStringList{"--server", "URL", "--user", kUser, "--text", "x"} << 1
            << QStringLiteral("encrypted connection failed");
    }

    void sendFailuresAreReported() {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        args.replaceInStrings(QRegularExpression(QStringLiteral("^URL$")), FService.BaseUrl());
        if (QString(QTest::currentDataTag()).startsWith(QLatin1String("https to"))) {
            args.replaceInStrings(QStringLiteral("http://"), QStringLiteral("https://"));
        }
        const TRun Result = Run(QStringList{"send"} + args);
        QCOMPARE(Result.ExitCode, exitCode);
        QVERIFY2(Result.Err.contains(message), qPrintable(Result.Err));
        QCOMPARE(FService.Poll(FService.Token(kUser), 0).Status, 204); // nothing was sent
    }
};

QTEST_GUILESS_MAIN(TCommandLineTest)
#include "tCommandLine.moc"

// HTTPS: the service serves TLS with a certificate made at run time by openssl.
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "uLocalService.h"

class TTlsTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir FDir;

    bool OpenSsl(const QStringList& AArgs) {
        QProcess Process;
        Process.setWorkingDirectory(FDir.path());
        Process.start(QStringLiteral("openssl"), AArgs);
        if (!Process.waitForFinished(20000) || Process.exitCode() != 0) {
            qWarning() << "openssl" << AArgs << Process.readAllStandardError();
            return false;
        }
        return true;
    }

private slots:
    void initTestCase() {
        if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty()) {
            QSKIP("the openssl command is not installed");
        }
        QVERIFY(FDir.isValid());
        const QStringList Ec{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
        QVERIFY(OpenSsl(QStringList{"req", "-x509"} + Ec +
                        QStringList{"-keyout", "ca.key", "-out", "ca.crt", "-days", "2", "-subj",
                                    "/CN=Pictoport Test CA", "-addext",
                                    "basicConstraints=critical,CA:TRUE", "-addext",
                                    "keyUsage=critical,keyCertSign,cRLSign"}));
        QVERIFY(OpenSsl(
            QStringList{"req"} + Ec +
            QStringList{"-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=localhost"}));
        QFile Ext(FDir.filePath(QStringLiteral("server.ext")));
        QVERIFY(Ext.open(QIODevice::WriteOnly));
        Ext.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n"
                  "basicConstraints=CA:FALSE\n"
                  "keyUsage=digitalSignature\n"
                  "extendedKeyUsage=serverAuth\n");
        Ext.close();
        QVERIFY(OpenSsl({"x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
                         "-CAcreateserial", "-out", "server.crt", "-days", "2", "-extfile",
                         "server.ext"}));
    }

    void servesHttpsWithTheGivenCertificate() {
        TLocalService Service;
        TLocalService::TOptions Options;
        Options.TlsCert = FDir.filePath(QStringLiteral("server.crt"));
        Options.TlsKey = FDir.filePath(QStringLiteral("server.key"));
        Options.CaCert = FDir.filePath(QStringLiteral("ca.crt")); // the runner verifies the peer
        QVERIFY(Service.Start(Options));
        QCOMPARE(Service.BaseUrl(), QStringLiteral("https://127.0.0.1:%1").arg(Service.Port()));

        const QString Token = Service.Token(QStringLiteral("demo@example.com:secret"));
        QVERIFY(!Token.isEmpty());
        QCOMPARE(
            Service.SendText(QStringLiteral("demo@example.com:secret"), QStringLiteral("secure")),
            202);
        const auto Reply = Service.Poll(Token, 1);
        QCOMPARE(Reply.Status, 200);
        QCOMPARE(Reply.Body, QByteArray("secure"));

        // Plain HTTP to the TLS port gets no answer that a client could take for one.
        QVERIFY(Service
                    .Call("GET", QStringLiteral("http://127.0.0.1:%1/api/extraction/items")
                                     .arg(Service.Port()))
                    .Status != 200);
    }

    void sendCommandSpeaksHttps() {
        TLocalService Service;
        TLocalService::TOptions Options;
        Options.TlsCert = FDir.filePath(QStringLiteral("server.crt"));
        Options.TlsKey = FDir.filePath(QStringLiteral("server.key"));
        QVERIFY(Service.Start(Options));

        QProcess Verified;
        Verified.start(TLocalService::Program(),
                       {"send", "--server", Service.BaseUrl(), "--user", "demo@example.com:secret",
                        "--ca-cert", FDir.filePath(QStringLiteral("ca.crt")), "--text", "via tls"});
        QVERIFY(Verified.waitForFinished(20000));
        QCOMPARE(Verified.exitCode(), 0);

        // Without the CA the certificate is not trusted and nothing is sent.
        QProcess Untrusted;
        Untrusted.start(TLocalService::Program(), {"send", "--server", Service.BaseUrl(), "--user",
                                                   "demo@example.com:secret", "--text", "never"});
        QVERIFY(Untrusted.waitForFinished(20000));
        QCOMPARE(Untrusted.exitCode(), 1);

        const QString Token = Service.Token(QStringLiteral("demo@example.com:secret"));
        QCOMPARE(Service.Poll(Token, 1).Body, QByteArray("via tls"));
        QCOMPARE(Service.Poll(Token, 0).Status, 204);
    }
};

QTEST_GUILESS_MAIN(TTlsTest)
#include "tTls.moc"

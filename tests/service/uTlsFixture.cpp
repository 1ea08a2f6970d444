#include "uTlsFixture.h"

#include <QFile>
#include <QProcess>

namespace {
bool Run(const QString& ADir, const QStringList& AArgs) {
    QProcess p;
    p.setWorkingDirectory(ADir);
    p.start(QStringLiteral("openssl"), AArgs);
    return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}
} // namespace

bool TTlsFixture::Make() {
    const QString d = Dir.path();
    CaCert = d + QStringLiteral("/ca.pem");
    ServerCert = d + QStringLiteral("/server.pem");
    ServerKey = d + QStringLiteral("/server.key");
    QFile ext(d + QStringLiteral("/ext.cnf"));
    if (!ext.open(QIODevice::WriteOnly))
        return false;
    ext.write("subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\n");
    ext.close();
    return Run(d, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out",
                   "ca.pem", "-days", "2", "-subj", "/CN=Pictoport Test CA"}) &&
           Run(d, {"req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out",
                   "server.csr", "-subj", "/CN=127.0.0.1"}) &&
           Run(d, {"x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                   "-CAcreateserial", "-out", "server.pem", "-days", "2", "-extfile", "ext.cnf"});
}

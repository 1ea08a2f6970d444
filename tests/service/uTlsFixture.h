#pragma once
#include <QString>
#include <QTemporaryDir>

// A private certificate authority and a server certificate for 127.0.0.1 and
// localhost, made with the openssl command.
struct TTlsFixture {
    QTemporaryDir Dir;
    QString CaCert, ServerCert, ServerKey;
    bool Make();
};

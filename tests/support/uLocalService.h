#pragma once
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

// Starts a real scanlume-local on a free loopback port and talks to its test hooks.
class TLocalService {
public:
    using THeaders = QList<QPair<QByteArray, QByteArray>>;

    struct TOptions {
        QStringList Users{QStringLiteral("demo@example.com:secret")};
        bool TestHooks = true;
        QString TlsCert, TlsKey; // both set: HTTPS
        QString CaCert;          // HTTPS: the runner's own calls trust this; unset: no checks
        QStringList ExtraArgs;   // appended to the command line, e.g. "--max-wait", "1"
        // Empty: a fresh temporary folder of this service's own, kept across Restart().
        QString DataFolder;
        // Most tests never recognise text; loading the engine in each would cost a second.
        bool Preload = false;
    };
    struct TScript {
        QString Path;
        int Status = 200;
        QList<QPair<QByteArray, QByteArray>> Headers;
        QByteArray Body;
        QByteArray ContentEncoding; // "", "gzip", "deflate", "raw-deflate"
        int DelayMs = 0;
        bool Drop = false;
        int TrickleMs = 0; // one body byte per pause of this length
    };
    struct TRecorded {
        QByteArray Method, Path, Target;
        QList<QPair<QByteArray, QByteArray>> Headers;
        QByteArray Body;
        QByteArray Header(const QByteArray& AName) const; // case-insensitive, empty when absent
        bool HasHeader(const QByteArray& AName) const;
    };
    // The outcome of one HTTP exchange made by Call().
    struct TReply {
        int Status = 0; // 0 when the exchange failed
        QString Error;  // transport error, empty on success
        THeaders Headers;
        QByteArray Body; // as received, never decoded
        QByteArray Header(const QByteArray& AName) const;
        bool HasHeader(const QByteArray& AName) const;
    };

    TLocalService();
    ~TLocalService(); // kills the process
    // Program from env SCANLUME_LOCAL; waits for the ready line (10 s max). Two overloads rather
    // than a default argument: GCC cannot use TOptions' member initializers inside this class.
    bool Start();
    bool Start(const TOptions& AOptions);
    // Kills the service (SIGKILL) and starts it again on the same port with the same options
    // and data folder, as a clinic's service that crashed and restarts: it forgets every
    // token and keeps its waiting items, accounts and extraction items.
    bool Restart();
    QString BaseUrl() const; // "http://127.0.0.1:PORT" or https
    int Port() const;
    // Failures are reported with qWarning and the call returns.
    void Script(const TScript& AScript);
    QList<TRecorded> Requests(); // excluding /_test/ requests
    void Reset();
    // As the phone would: signs in as AUser ("email:password") and sends one item.
    // Returns the HTTP status (0 when the exchange failed).
    int SendFile(const QString& AUser, const QString& AFilename, const QByteArray& AContentType,
                 const QByteArray& AData);
    int SendText(const QString& AUser, const QString& AText, const QString& AFilename = QString());
    QString Token(const QString& AUser); // signs in and returns an access token
    QProcess& Process();

    // One request to the service. APath is appended to BaseUrl() unless it is a full URL.
    TReply Call(const QByteArray& AMethod, const QString& APath, const THeaders& AHeaders = {},
                const QByteArray& ABody = {}, int ATimeoutMs = 15000);
    // The long poll as the receiver makes it.
    TReply Poll(const QString& AToken, int AWaitSeconds, int ATimeoutMs = 0);
    static QString Program(); // SCANLUME_LOCAL

private:
    bool Launch(const TOptions& AOptions, int ARestartPort);
    int SendForm(const QString& AUser, const QList<QPair<QByteArray, QByteArray>>& AFields,
                 const QString& AFilename, const QByteArray& AContentType, const QByteArray& AData,
                 bool AHasFile);

    TOptions FOptions;
    std::unique_ptr<QProcess> FProcess;
    std::unique_ptr<QTemporaryDir> FData; // made at the first start
    QString FBaseUrl;
    int FPort = 0;
};

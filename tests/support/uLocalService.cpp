#include "uLocalService.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QtDebug>

#include <curl/curl.h>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/prctl.h>
#endif

#include <mutex>

namespace {

void InitCurlOnce() {
    static std::once_flag Once;
    std::call_once(Once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

QByteArray FindHeader(const TLocalService::THeaders& AHeaders, const QByteArray& AName) {
    for (const auto& Header : AHeaders) {
        if (Header.first.compare(AName, Qt::CaseInsensitive) == 0) {
            return Header.second;
        }
    }
    return {};
}

bool ContainsHeader(const TLocalService::THeaders& AHeaders, const QByteArray& AName) {
    for (const auto& Header : AHeaders) {
        if (Header.first.compare(AName, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

size_t OnBody(char* AData, size_t ASize, size_t ACount, void* AUser) {
    static_cast<QByteArray*>(AUser)->append(AData, static_cast<qsizetype>(ASize * ACount));
    return ASize * ACount;
}

size_t OnHeader(char* AData, size_t ASize, size_t ACount, void* AUser) {
    auto* Headers = static_cast<TLocalService::THeaders*>(AUser);
    const QByteArray Line = QByteArray(AData, static_cast<qsizetype>(ASize * ACount)).trimmed();
    if (Line.startsWith("HTTP/")) {
        Headers->clear(); // a new response (after "100 Continue" or a redirect)
    } else if (const qsizetype Colon = Line.indexOf(':'); Colon > 0) {
        Headers->append({Line.left(Colon).trimmed(), Line.mid(Colon + 1).trimmed()});
    }
    return ASize * ACount;
}

struct TCurlCleanup {
    void operator()(CURL* ACurl) const { curl_easy_cleanup(ACurl); }
};
struct TSlistCleanup {
    void operator()(curl_slist* AList) const { curl_slist_free_all(AList); }
};
struct TMimeCleanup {
    void operator()(curl_mime* AMime) const { curl_mime_free(AMime); }
};

} // namespace

QByteArray TLocalService::TRecorded::Header(const QByteArray& AName) const {
    return FindHeader(Headers, AName);
}

bool TLocalService::TRecorded::HasHeader(const QByteArray& AName) const {
    return ContainsHeader(Headers, AName);
}

QByteArray TLocalService::TReply::Header(const QByteArray& AName) const {
    return FindHeader(Headers, AName);
}

bool TLocalService::TReply::HasHeader(const QByteArray& AName) const {
    return ContainsHeader(Headers, AName);
}

TLocalService::TLocalService() : FProcess(std::make_unique<QProcess>()) {
    InitCurlOnce();
}

TLocalService::~TLocalService() {
    if (FProcess->state() != QProcess::NotRunning) {
        FProcess->kill();
        FProcess->waitForFinished(5000);
    }
}

QString TLocalService::Program() {
    return qEnvironmentVariable("SCANLUME_LOCAL");
}

bool TLocalService::Start() {
    return Start(TOptions());
}

bool TLocalService::Start(const TOptions& AOptions) {
    return Launch(AOptions, 0);
}

bool TLocalService::Restart() {
    FProcess->kill();
    FProcess->waitForFinished(5000);
    FProcess = std::make_unique<QProcess>();
    return Launch(FOptions, FPort);
}

bool TLocalService::Launch(const TOptions& AOptions, int ARestartPort) {
    // A restart keeps them: other threads may read them meanwhile (Call with a full URL).
    if (&AOptions != &FOptions) {
        FOptions = AOptions;
    }
    const QString Exe = Program();
    if (Exe.isEmpty()) {
        qWarning("TLocalService: SCANLUME_LOCAL is not set");
        return false;
    }
    QString Data = AOptions.DataFolder;
    if (Data.isEmpty()) {
        if (!FData) {
            FData = std::make_unique<QTemporaryDir>();
        }
        Data = FData->path();
    }
    QStringList Args{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(ARestartPort),
                     QStringLiteral("--data"), Data};
    for (const QString& User : AOptions.Users) {
        Args << QStringLiteral("--user") << User;
    }
    if (AOptions.TestHooks) {
        Args << QStringLiteral("--test-hooks");
    }
    if (!AOptions.TlsCert.isEmpty() && !AOptions.TlsKey.isEmpty()) {
        Args << QStringLiteral("--tls-cert") << AOptions.TlsCert << QStringLiteral("--tls-key")
             << AOptions.TlsKey;
    }
    if (!AOptions.Preload) {
        Args << QStringLiteral("--no-preload");
    }
    // The tests' own output stays readable; the request log has a test of its own.
    Args << QStringLiteral("--quiet") << AOptions.ExtraArgs;

    FProcess->setProcessChannelMode(QProcess::ForwardedErrorChannel);
#ifdef Q_OS_LINUX
    // A test that crashes must not leave its service running.
    FProcess->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
#endif
    FProcess->start(Exe, Args);
    if (!FProcess->waitForStarted(10000)) {
        qWarning() << "TLocalService: cannot start" << Exe << FProcess->errorString();
        return false;
    }
    static const QRegularExpression Ready(
        QStringLiteral(R"(^listening on (https?://[^\s:]+:(\d+))\s*$)"));
    const QDeadlineTimer Deadline(10000);
    while (!Deadline.hasExpired()) {
        if (FProcess->canReadLine()) {
            const QString Line = QString::fromUtf8(FProcess->readLine());
            const auto Match = Ready.match(Line);
            if (!Match.hasMatch()) {
                qWarning() << "TLocalService: unexpected first line" << Line;
                return false;
            }
            if (FBaseUrl != Match.captured(1)) {
                FBaseUrl = Match.captured(1);
                FPort = Match.captured(2).toInt();
            }
            return true;
        }
        if (FProcess->state() == QProcess::NotRunning) {
            qWarning() << "TLocalService: the service ended with exit code" << FProcess->exitCode();
            return false;
        }
        FProcess->waitForReadyRead(static_cast<int>(qMax<qint64>(1, Deadline.remainingTime())));
    }
    qWarning("TLocalService: no ready line within 10 s");
    return false;
}

QString TLocalService::BaseUrl() const {
    return FBaseUrl;
}

int TLocalService::Port() const {
    return FPort;
}

QProcess& TLocalService::Process() {
    return *FProcess;
}

TLocalService::TReply TLocalService::Call(const QByteArray& AMethod, const QString& APath,
                                          const THeaders& AHeaders, const QByteArray& ABody,
                                          int ATimeoutMs) {
    TReply Reply;
    std::unique_ptr<CURL, TCurlCleanup> Curl(curl_easy_init());
    const QByteArray Url =
        (APath.startsWith(QStringLiteral("http")) ? APath : FBaseUrl + APath).toUtf8();
    curl_easy_setopt(Curl.get(), CURLOPT_URL, Url.constData());
    curl_easy_setopt(Curl.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(Curl.get(), CURLOPT_CONNECTTIMEOUT_MS, 10000L);
    curl_easy_setopt(Curl.get(), CURLOPT_TIMEOUT_MS, static_cast<long>(ATimeoutMs));
    if (AMethod == "HEAD") {
        curl_easy_setopt(Curl.get(), CURLOPT_NOBODY, 1L);
    } else if (AMethod != "GET" || !ABody.isEmpty()) {
        curl_easy_setopt(Curl.get(), CURLOPT_CUSTOMREQUEST, AMethod.constData());
        curl_easy_setopt(Curl.get(), CURLOPT_POSTFIELDS, ABody.constData());
        curl_easy_setopt(Curl.get(), CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(ABody.size()));
    }
    curl_slist* Raw = curl_slist_append(nullptr, "Expect:");
    for (const auto& Header : AHeaders) {
        Raw = curl_slist_append(Raw, Header.first + ": " + Header.second);
    }
    std::unique_ptr<curl_slist, TSlistCleanup> List(Raw);
    curl_easy_setopt(Curl.get(), CURLOPT_HTTPHEADER, List.get());
    if (FOptions.CaCert.isEmpty()) {
        curl_easy_setopt(Curl.get(), CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(Curl.get(), CURLOPT_SSL_VERIFYHOST, 0L);
    } else {
        curl_easy_setopt(Curl.get(), CURLOPT_CAINFO, FOptions.CaCert.toLocal8Bit().constData());
    }
    curl_easy_setopt(Curl.get(), CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(Curl.get(), CURLOPT_WRITEDATA, &Reply.Body);
    curl_easy_setopt(Curl.get(), CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(Curl.get(), CURLOPT_HEADERDATA, &Reply.Headers);
    const CURLcode Code = curl_easy_perform(Curl.get());
    if (Code != CURLE_OK) {
        Reply.Error = QString::fromUtf8(curl_easy_strerror(Code));
        return Reply;
    }
    long Status = 0;
    curl_easy_getinfo(Curl.get(), CURLINFO_RESPONSE_CODE, &Status);
    Reply.Status = static_cast<int>(Status);
    return Reply;
}

TLocalService::TReply TLocalService::Poll(const QString& AToken, int AWaitSeconds, int ATimeoutMs) {
    return Call("GET", QStringLiteral("/api/image-transfer/native/poll?wait=%1").arg(AWaitSeconds),
                {{"Authorization", "Bearer " + AToken.toUtf8()}}, {},
                ATimeoutMs > 0 ? ATimeoutMs : (AWaitSeconds + 20) * 1000);
}

void TLocalService::Script(const TScript& AScript) {
    QJsonArray Headers;
    for (const auto& Header : AScript.Headers) {
        Headers.append(
            QJsonArray{QString::fromUtf8(Header.first), QString::fromUtf8(Header.second)});
    }
    const QJsonObject Body{
        {QStringLiteral("path"), AScript.Path},
        {QStringLiteral("status"), AScript.Status},
        {QStringLiteral("headers"), Headers},
        {QStringLiteral("body_base64"), QString::fromLatin1(AScript.Body.toBase64())},
        {QStringLiteral("content_encoding"), QString::fromLatin1(AScript.ContentEncoding)},
        {QStringLiteral("delay_ms"), AScript.DelayMs},
        {QStringLiteral("drop"), AScript.Drop},
        {QStringLiteral("trickle_ms"), AScript.TrickleMs},
    };
    const TReply Reply =
        Call("POST", QStringLiteral("/_test/script"), {{"Content-Type", "application/json"}},
             QJsonDocument(Body).toJson(QJsonDocument::Compact));
    if (Reply.Status != 200) {
        qWarning() << "TLocalService::Script failed:" << Reply.Status << Reply.Error << Reply.Body;
    }
}

QList<TLocalService::TRecorded> TLocalService::Requests() {
    QList<TRecorded> Result;
    const TReply Reply = Call("GET", QStringLiteral("/_test/requests"));
    const QJsonDocument Doc = QJsonDocument::fromJson(Reply.Body);
    if (Reply.Status != 200 || !Doc.isObject()) {
        qWarning() << "TLocalService::Requests failed:" << Reply.Status << Reply.Error;
        return Result;
    }
    for (const QJsonValue& Value : Doc.object().value(QStringLiteral("requests")).toArray()) {
        const QJsonObject Object = Value.toObject();
        TRecorded Recorded;
        Recorded.Method = Object.value(QStringLiteral("method")).toString().toUtf8();
        Recorded.Path = Object.value(QStringLiteral("path")).toString().toUtf8();
        Recorded.Target = Object.value(QStringLiteral("target")).toString().toUtf8();
        for (const QJsonValue& Header : Object.value(QStringLiteral("headers")).toArray()) {
            const QJsonArray Pair = Header.toArray();
            Recorded.Headers.append(
                {Pair.at(0).toString().toUtf8(), Pair.at(1).toString().toUtf8()});
        }
        Recorded.Body = QByteArray::fromBase64(
            Object.value(QStringLiteral("body_base64")).toString().toLatin1());
        Result.append(Recorded);
    }
    return Result;
}

void TLocalService::Reset() {
    const TReply Reply = Call("POST", QStringLiteral("/_test/reset"));
    if (Reply.Status != 200) {
        qWarning() << "TLocalService::Reset failed:" << Reply.Status << Reply.Error;
    }
}

QString TLocalService::Token(const QString& AUser) {
    const qsizetype Colon = AUser.indexOf(u':');
    const QJsonObject Body{{QStringLiteral("email"), AUser.left(Colon)},
                           {QStringLiteral("password"), AUser.mid(Colon + 1)},
                           {QStringLiteral("remember_me"), true}};
    const TReply Reply =
        Call("POST", QStringLiteral("/api/auth/login"), {{"Content-Type", "application/json"}},
             QJsonDocument(Body).toJson(QJsonDocument::Compact));
    const QString Token = QJsonDocument::fromJson(Reply.Body)
                              .object()
                              .value(QStringLiteral("access_token"))
                              .toString();
    if (Reply.Status != 200 || Token.isEmpty()) {
        qWarning() << "TLocalService::Token failed for" << AUser << Reply.Status << Reply.Error
                   << Reply.Body;
    }
    return Token;
}

int TLocalService::SendFile(const QString& AUser, const QString& AFilename,
                            const QByteArray& AContentType, const QByteArray& AData) {
    return SendForm(AUser, {}, AFilename, AContentType, AData, true);
}

int TLocalService::SendText(const QString& AUser, const QString& AText, const QString& AFilename) {
    QList<QPair<QByteArray, QByteArray>> Fields{{"text", AText.toUtf8()}};
    if (!AFilename.isNull()) {
        Fields.append({"filename", AFilename.toUtf8()});
    }
    return SendForm(AUser, Fields, {}, {}, {}, false);
}

int TLocalService::SendForm(const QString& AUser,
                            const QList<QPair<QByteArray, QByteArray>>& AFields,
                            const QString& AFilename, const QByteArray& AContentType,
                            const QByteArray& AData, bool AHasFile) {
    const QString Token = this->Token(AUser);
    if (Token.isEmpty()) {
        return 0;
    }
    std::unique_ptr<CURL, TCurlCleanup> Curl(curl_easy_init());
    const QByteArray Url = (FBaseUrl + QStringLiteral("/api/image-transfer/send")).toUtf8();
    curl_easy_setopt(Curl.get(), CURLOPT_URL, Url.constData());
    curl_easy_setopt(Curl.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(Curl.get(), CURLOPT_TIMEOUT_MS, 30000L);
    if (FOptions.CaCert.isEmpty()) {
        curl_easy_setopt(Curl.get(), CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(Curl.get(), CURLOPT_SSL_VERIFYHOST, 0L);
    } else {
        curl_easy_setopt(Curl.get(), CURLOPT_CAINFO, FOptions.CaCert.toLocal8Bit().constData());
    }
    std::unique_ptr<curl_mime, TMimeCleanup> Mime(curl_mime_init(Curl.get()));
    if (AHasFile) {
        curl_mimepart* Part = curl_mime_addpart(Mime.get());
        curl_mime_name(Part, "file");
        curl_mime_data(Part, AData.constData(), static_cast<size_t>(AData.size()));
        curl_mime_filename(Part, AFilename.toUtf8().constData());
        if (!AContentType.isEmpty()) {
            curl_mime_type(Part, AContentType.constData());
        }
    }
    for (const auto& Field : AFields) {
        curl_mimepart* Part = curl_mime_addpart(Mime.get());
        curl_mime_name(Part, Field.first.constData());
        curl_mime_data(Part, Field.second.constData(), static_cast<size_t>(Field.second.size()));
    }
    curl_easy_setopt(Curl.get(), CURLOPT_MIMEPOST, Mime.get());
    const QByteArray Auth = "Authorization: Bearer " + Token.toUtf8();
    std::unique_ptr<curl_slist, TSlistCleanup> List(
        curl_slist_append(curl_slist_append(nullptr, "Expect:"), Auth.constData()));
    curl_easy_setopt(Curl.get(), CURLOPT_HTTPHEADER, List.get());
    QByteArray Body;
    curl_easy_setopt(Curl.get(), CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(Curl.get(), CURLOPT_WRITEDATA, &Body);
    const CURLcode Code = curl_easy_perform(Curl.get());
    if (Code != CURLE_OK) {
        qWarning() << "TLocalService: sending failed:" << curl_easy_strerror(Code);
        return 0;
    }
    long Status = 0;
    curl_easy_getinfo(Curl.get(), CURLINFO_RESPONSE_CODE, &Status);
    return static_cast<int>(Status);
}

#include "service/uHttp.h"

#include "common/uErrors.h"
#include "common/uTextRules.h"

#include <QElapsedTimer>
#include <algorithm>
#include <atomic>
#include <curl/curl.h>
#include <memory>
#include <mutex>
#include <zlib.h>

namespace {

std::atomic<qint64> GMaxBodyBytes{THttpClient::DefaultMaxBodyBytes};
std::atomic<int> GAnswerGraceMs{THttpClient::DefaultAnswerGraceMs};
std::atomic<qint64> GMinAnswerBytesPerSecond{THttpClient::DefaultMinAnswerBytesPerSecond};

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct TCurlDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
    void operator()(curl_mime* m) const { curl_mime_free(m); }
};
template <typename T> using TCurlPtr = std::unique_ptr<T, TCurlDeleter>;

struct TTransfer {
    THttpResponse Response;
    qint64 MaxBytes = 0;
    bool TooLarge = false;
    // Idle tracking for the response time-out.
    QElapsedTimer SinceActivity;
    curl_off_t LastDown = -1, LastUp = -1;
    qint64 TimeoutMs = 0;
    bool TimedOut = false;
    // The whole call's limit: a base, plus time for every byte moved at the slowest rate
    // a working link gives, so that a body trickling in cannot hold the call for ever.
    QElapsedTimer SinceStart;
    qint64 DeadlineMs = 0;
    bool PastDeadline = false;
    const std::atomic<bool>* Cancel = nullptr;
    const std::atomic<bool>* CancelBeforeAnswer = nullptr;
    bool AnswerStarted = false;
    bool Cancelled = false;
    // The answer's own pace, from its first header line.
    QElapsedTimer SinceAnswer;
    curl_off_t DownAtAnswer = -1;
    bool AnswerTooSlow = false;
};

// Appends to a buffer that the caller keeps within ACap: grown by hand, since Qt's own
// doubling past the cap would hold up to twice the cap at once.
void AppendWithin(QByteArray& ABuffer, const char* AData, qint64 ASize, qint64 ACap) {
    const qint64 needed = ABuffer.size() + ASize;
    if (needed > ABuffer.capacity())
        ABuffer.reserve(
            qsizetype(std::min(ACap, std::max<qint64>(2 * ABuffer.capacity(), needed))));
    ABuffer.append(AData, qsizetype(ASize));
}

size_t OnBody(char* AData, size_t ASize, size_t ACount, void* AUser) {
    auto* t = static_cast<TTransfer*>(AUser);
    const size_t n = ASize * ACount;
    if (t->Response.Body.size() + qint64(n) > t->MaxBytes) {
        t->TooLarge = true;
        return 0; // aborts the transfer
    }
    AppendWithin(t->Response.Body, AData, qint64(n), t->MaxBytes);
    return n;
}

size_t OnHeader(char* AData, size_t ASize, size_t ACount, void* AUser) {
    auto* t = static_cast<TTransfer*>(AUser);
    const size_t n = ASize * ACount;
    const QByteArray line(AData, qsizetype(n));
    if (!t->AnswerStarted)
        t->SinceAnswer.start();
    t->AnswerStarted = true;
    if (line.startsWith("HTTP/")) {
        // A new response (after a redirect or an interim 1xx): forget earlier headers.
        t->Response.Headers.clear();
        return n;
    }
    const qsizetype colon = line.indexOf(':');
    if (colon > 0) {
        const QByteArray name = line.left(colon).trimmed();
        const QByteArray value = line.mid(colon + 1).trimmed();
        // Photos are megabytes: size the body once instead of growing it in steps.
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0) {
            bool ok = false;
            const qint64 length = value.toLongLong(&ok);
            if (ok && length > 0 && length <= t->MaxBytes)
                t->Response.Body.reserve(qsizetype(length));
        }
        t->Response.Headers.append({name, value});
    }
    return n;
}

int OnProgress(void* AUser, curl_off_t, curl_off_t ADown, curl_off_t, curl_off_t AUp) {
    auto* t = static_cast<TTransfer*>(AUser);
    if ((t->Cancel != nullptr && t->Cancel->load()) ||
        (t->CancelBeforeAnswer != nullptr && t->CancelBeforeAnswer->load() && !t->AnswerStarted)) {
        t->Cancelled = true;
        return 1;
    }
    if (t->DeadlineMs > 0) {
        const qint64 allowedMs =
            t->DeadlineMs + (qint64(ADown) + qint64(AUp)) * 1000 / THttpClient::MinBytesPerSecond;
        if (t->SinceStart.elapsed() > allowedMs) {
            t->PastDeadline = true;
            return 1;
        }
    }
    if (t->AnswerStarted) {
        if (t->DownAtAnswer < 0)
            t->DownAtAnswer = ADown;
        const qint64 allowedMs = GAnswerGraceMs + qint64(ADown - t->DownAtAnswer) * 1000 /
                                                      std::max<qint64>(1, GMinAnswerBytesPerSecond);
        if (t->SinceAnswer.elapsed() > allowedMs) {
            t->AnswerTooSlow = true;
            return 1;
        }
    }
    if (ADown != t->LastDown || AUp != t->LastUp) {
        t->LastDown = ADown;
        t->LastUp = AUp;
        t->SinceActivity.restart();
        return 0;
    }
    if (t->SinceActivity.elapsed() > t->TimeoutMs) {
        t->TimedOut = true;
        return 1;
    }
    return 0;
}

// What the user reads first: a short Japanese description, then the technical detail.
QString Described(const QString& ADescription, const QString& ADetail) {
    return ADescription + QStringLiteral("（") + ADetail + QStringLiteral("）");
}

QString DescriptionOf(CURLcode ACode) {
    switch (ACode) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return QStringLiteral("サーバー名が見つかりません");
    case CURLE_COULDNT_CONNECT:
        return QStringLiteral("接続できません");
    case CURLE_OPERATION_TIMEDOUT:
        return QStringLiteral("時間切れ");
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
        return QStringLiteral("証明書を確認できません");
    case CURLE_SSL_CONNECT_ERROR:
        return QStringLiteral("暗号化した接続を確立できません");
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
        return QStringLiteral("通信が途中で切れました");
    case CURLE_SEND_ERROR:
        return QStringLiteral("送信できません");
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
        return QStringLiteral("サーバーURLが正しくありません");
    default:
        return QStringLiteral("通信エラー");
    }
}

TCurlPtr<CURL> NewEasyHandle() {
    TCurlPtr<CURL> curl(curl_easy_init());
    if (!curl)
        throw TTransportError(QStringLiteral("libcurl could not be initialised"));
    return curl;
}

THttpResponse Perform(CURL* ACurl, const QString& AUrl, qint64 ATimeoutMs, qint64 ADeadlineMs,
                      const std::atomic<bool>* ACancel,
                      const std::atomic<bool>* ACancelBeforeAnswer) {
    TTransfer transfer;
    transfer.TimeoutMs = ATimeoutMs;
    transfer.DeadlineMs = ADeadlineMs;
    transfer.Cancel = ACancel;
    transfer.CancelBeforeAnswer = ACancelBeforeAnswer;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(ACurl, CURLOPT_ERRORBUFFER, errorBuffer);
    const QByteArray url = AUrl.toUtf8();
    curl_easy_setopt(ACurl, CURLOPT_URL, url.constData());
    curl_easy_setopt(ACurl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(ACurl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(ACurl, CURLOPT_CONNECTTIMEOUT_MS, long(THttpClient::ConnectTimeoutMs));
    curl_easy_setopt(ACurl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(ACurl, CURLOPT_SSL_VERIFYHOST, 2L);
    // libcurl does not read these itself; programs built on OpenSSL are told this way
    // which authorities to trust.
    const QByteArray caFile = qgetenv("SSL_CERT_FILE");
    const QByteArray caDir = qgetenv("SSL_CERT_DIR");
    if (!caFile.isEmpty())
        curl_easy_setopt(ACurl, CURLOPT_CAINFO, caFile.constData());
    if (!caDir.isEmpty())
        curl_easy_setopt(ACurl, CURLOPT_CAPATH, caDir.constData());
#ifdef Q_OS_WIN
    // The authorities the clinic added to Windows' own store, as a browser trusts them.
    curl_easy_setopt(ACurl, CURLOPT_SSL_OPTIONS, long(CURLSSLOPT_NATIVE_CA));
#endif
    curl_easy_setopt(ACurl, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(ACurl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(ACurl, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(ACurl, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(ACurl, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(ACurl, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(ACurl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(ACurl, CURLOPT_BUFFERSIZE, 256L * 1024);

    transfer.MaxBytes = THttpClient::MaxBodyBytes();
    transfer.SinceActivity.start();
    transfer.SinceStart.start();
    const CURLcode rc = curl_easy_perform(ACurl);
    if (transfer.TooLarge)
        throw TTransportError(
            Described(QStringLiteral("応答が大きすぎます"),
                      QStringLiteral("Response body exceeds %1 bytes").arg(transfer.MaxBytes)));
    if (transfer.Cancelled)
        throw TTransportError(
            Described(QStringLiteral("中止しました"), QStringLiteral("Request cancelled")));
    if (transfer.PastDeadline)
        throw TTransportError(
            Described(QStringLiteral("時間切れ"),
                      QStringLiteral("Operation too slow: not finished within %1 ms")
                          .arg(transfer.SinceStart.elapsed())));
    if (transfer.AnswerTooSlow)
        throw TTransportError(Described(QStringLiteral("時間切れ"),
                                        QStringLiteral("Answer too slow: %1 bytes in %2 ms")
                                            .arg(qint64(transfer.LastDown))
                                            .arg(transfer.SinceAnswer.elapsed())));
    if (transfer.TimedOut)
        throw TTransportError(
            Described(QStringLiteral("時間切れ"),
                      QStringLiteral("Operation timed out: no response within %1 ms")
                          .arg(transfer.TimeoutMs)));
    if (rc != CURLE_OK) {
        const QString detail = errorBuffer[0] ? QString::fromUtf8(errorBuffer)
                                              : QString::fromUtf8(curl_easy_strerror(rc));
        throw TTransportError(Described(DescriptionOf(rc), detail.trimmed()));
    }
    // A Content-Length that promised more than came must not leave the spare room in a
    // body that the window keeps for the rest of the session.
    if (transfer.Response.Body.capacity() - transfer.Response.Body.size() > 64 * 1024)
        transfer.Response.Body.squeeze();
    long status = 0;
    curl_easy_getinfo(ACurl, CURLINFO_RESPONSE_CODE, &status);
    transfer.Response.Status = int(status);
    const QByteArray encoding =
        TextRules::AsciiLower(QString::fromLatin1(transfer.Response.Header("Content-Encoding")))
            .trimmed()
            .toLatin1();
    if (encoding == "gzip" || encoding == "deflate")
        transfer.Response.Body =
            InflateBody(transfer.Response.Body, encoding, THttpClient::MaxBodyBytes());
    return std::move(transfer.Response);
}

TCurlPtr<curl_slist> HeaderList(const THeaderList& AHeaders, bool AForm) {
    curl_slist* list = nullptr;
    bool hasContentType = false;
    for (const auto& [name, value] : AHeaders) {
        list = curl_slist_append(list, (name + ": " + value).constData());
        hasContentType = hasContentType || name.compare("Content-Type", Qt::CaseInsensitive) == 0;
    }
    // Only the headers a call lists: no "Expect: 100-continue", and no form content type
    // that libcurl would otherwise add to a POST of raw data.
    list = curl_slist_append(list, "Expect:");
    if (!hasContentType && !AForm)
        list = curl_slist_append(list, "Content-Type:");
    return TCurlPtr<curl_slist>(list);
}

} // namespace

QByteArray THttpResponse::Header(const QByteArray& AName) const {
    for (const auto& [name, value] : Headers) {
        if (name.compare(AName, Qt::CaseInsensitive) == 0)
            return value;
    }
    return QByteArray();
}

bool THttpResponse::HasHeader(const QByteArray& AName) const {
    for (const auto& h : Headers) {
        if (h.first.compare(AName, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

THttpClient::THttpClient(int AResponseTimeoutMs) : FResponseTimeoutMs(AResponseTimeoutMs) {
    InitCurlOnce();
}

void THttpClient::SetAnswerPace(int AGraceMs, qint64 AMinBytesPerSecond) {
    GAnswerGraceMs = AGraceMs;
    GMinAnswerBytesPerSecond = AMinBytesPerSecond;
}

void THttpClient::SetMaxBodyBytes(qint64 ABytes) {
    GMaxBodyBytes = ABytes;
}
qint64 THttpClient::MaxBodyBytes() {
    return GMaxBodyBytes;
}

THttpResponse THttpClient::Send(const QByteArray& AMethod, const QString& AUrl,
                                const THeaderList& AHeaders, const QByteArray& ABody,
                                bool AHasBody) {
    TCurlPtr<CURL> curl = NewEasyHandle();
    auto headers = HeaderList(AHeaders, false);
    curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headers.get());
    if (AMethod == "GET") {
        curl_easy_setopt(curl.get(), CURLOPT_HTTPGET, 1L);
    } else {
        if (AMethod != "POST")
            curl_easy_setopt(curl.get(), CURLOPT_CUSTOMREQUEST, AMethod.constData());
        if (AHasBody || AMethod == "POST" || AMethod == "PUT") {
            curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(ABody.size()));
            curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, ABody.constData());
        }
    }
    return Perform(curl.get(), AUrl, FResponseTimeoutMs, FDeadlineMs, FCancel, FCancelBeforeAnswer);
}

THttpResponse THttpClient::SendForm(const QString& AUrl, const THeaderList& AHeaders,
                                    const QList<TFormPart>& AParts) {
    TCurlPtr<CURL> curl = NewEasyHandle();
    TCurlPtr<curl_mime> form(curl_mime_init(curl.get()));
    for (const TFormPart& p : AParts) {
        curl_mimepart* part = curl_mime_addpart(form.get());
        curl_mime_name(part, p.Name.constData());
        curl_mime_data(part, p.Data.constData(), size_t(p.Data.size()));
        if (!p.FileName.isEmpty())
            curl_mime_filename(part, p.FileName.constData());
        if (!p.ContentType.isEmpty())
            curl_mime_type(part, p.ContentType.constData());
    }
    auto headers = HeaderList(AHeaders, true);
    curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(curl.get(), CURLOPT_MIMEPOST, form.get());
    return Perform(curl.get(), AUrl, FResponseTimeoutMs, FDeadlineMs, FCancel, FCancelBeforeAnswer);
}

QByteArray InflateBody(const QByteArray& ABody, const QByteArray& AEncoding, qint64 AMaxBytes) {
    if (ABody.isEmpty())
        return ABody;
    int windowBits = 16 + MAX_WBITS; // gzip wrapper
    if (AEncoding == "deflate") {
        // "deflate" comes zlib-wrapped or as a raw stream; the zlib header tells them apart.
        const auto b0 = quint8(ABody.at(0));
        const auto b1 = ABody.size() > 1 ? quint8(ABody.at(1)) : quint8(0);
        const bool zlibWrapped = (b0 & 0x0F) == 8 && ((b0 << 8) | b1) % 31 == 0;
        windowBits = zlibWrapped ? MAX_WBITS : -MAX_WBITS;
    }
    z_stream zs{};
    if (inflateInit2(&zs, windowBits) != Z_OK)
        throw TTransportError(Described(QStringLiteral("応答を展開できません"),
                                        QStringLiteral("Could not inflate the response body")));
    QByteArray out;
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(ABody.constData()));
    zs.avail_in = uInt(ABody.size());
    int rc = Z_OK;
    char chunk[64 * 1024];
    while (rc != Z_STREAM_END) {
        zs.next_out = reinterpret_cast<Bytef*>(chunk);
        zs.avail_out = sizeof(chunk);
        rc = inflate(&zs, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END) {
            inflateEnd(&zs);
            throw TTransportError(Described(QStringLiteral("応答を展開できません"),
                                            QStringLiteral("Could not inflate the response body")));
        }
        const qint64 produced = qint64(sizeof(chunk) - zs.avail_out);
        if (out.size() + produced > AMaxBytes) {
            inflateEnd(&zs);
            throw TTransportError(
                Described(QStringLiteral("応答が大きすぎます"),
                          QStringLiteral("Response body exceeds %1 bytes").arg(AMaxBytes)));
        }
        AppendWithin(out, chunk, produced, AMaxBytes);
        if (rc == Z_OK && zs.avail_in == 0 && produced == 0) {
            inflateEnd(&zs);
            throw TTransportError(
                Described(QStringLiteral("応答を展開できません"),
                          QStringLiteral("Could not inflate the response body: truncated")));
        }
    }
    inflateEnd(&zs);
    return out;
}

#pragma once
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <atomic>

using THeaderList = QList<QPair<QByteArray, QByteArray>>;

// One part of a multipart form, in the order it is added.
struct TFormPart {
    QByteArray Name;
    QByteArray Data;
    QByteArray FileName;    // empty: a plain text part
    QByteArray ContentType; // only for file parts
};

struct THttpResponse {
    int Status = 0;
    THeaderList Headers;
    QByteArray Body; // inflated when it came as gzip or deflate
    // Case-insensitive; empty when absent.
    QByteArray Header(const QByteArray& AName) const;
    bool HasHeader(const QByteArray& AName) const;
};

// One HTTP client per service call: libcurl, TLS verification always on, connection
// time-out 10000 ms, a response time-out that ends a call in which nothing has moved for
// that long, and an overall deadline. Transport failures throw TTransportError.
class THttpClient {
public:
    explicit THttpClient(int AResponseTimeoutMs);
    // A flag that, once set, ends the transfer at once with a transport error.
    void SetCancelFlag(const std::atomic<bool>* AFlag) { FCancel = AFlag; }
    // The same, but an answer that has begun to arrive is read to its end: it may carry an
    // item that the service has already let go of. Both flags may be set.
    void SetCancelBeforeAnswerFlag(const std::atomic<bool>* AFlag) { FCancelBeforeAnswer = AFlag; }

    THttpResponse Send(const QByteArray& AMethod, const QString& AUrl, const THeaderList& AHeaders,
                       const QByteArray& ABody = QByteArray(), bool AHasBody = false);
    THttpResponse SendForm(const QString& AUrl, const THeaderList& AHeaders,
                           const QList<TFormPart>& AParts);

    // The whole call ends after ABaseMs plus a second for every MinBytesPerSecond moved
    // either way, however steadily bytes trickle; 0 means no limit beyond the time-outs.
    void SetDeadline(qint64 ABaseMs) { FDeadlineMs = ABaseMs; }
    static constexpr qint64 MinBytesPerSecond = 16 * 1024;

    // Once an answer has begun, its body must keep this pace after a short grace: a poll
    // answer that trickles a byte now and then would otherwise hold receiving for minutes.
    // The service keeps an item whose answer was not written whole, so nothing is lost.
    static constexpr int DefaultAnswerGraceMs = 10000;
    static constexpr qint64 DefaultMinAnswerBytesPerSecond = 4096;
    // Tests shorten the grace and raise the pace.
    static void SetAnswerPace(int AGraceMs, qint64 AMinBytesPerSecond);

    static constexpr int ConnectTimeoutMs = 10000;
    // Any body larger than this, before or after inflation, is a transport error.
    static constexpr qint64 DefaultMaxBodyBytes = qint64(256) * 1024 * 1024;
    // Tests lower the cap to show its effect without moving 256 MiB.
    static void SetMaxBodyBytes(qint64 ABytes);
    static qint64 MaxBodyBytes();

private:
    int FResponseTimeoutMs;
    qint64 FDeadlineMs = 0;
    const std::atomic<bool>* FCancel = nullptr;
    const std::atomic<bool>* FCancelBeforeAnswer = nullptr;
};

// Inflates a "gzip" or "deflate" body (zlib-wrapped or raw); throws TTransportError when
// the data is broken or the result exceeds AMaxBytes.
QByteArray InflateBody(const QByteArray& ABody, const QByteArray& AEncoding, qint64 AMaxBytes);

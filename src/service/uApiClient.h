#pragma once
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>

class THttpClient;

enum class TPollResult { prImage, prText, prEmpty, prUnauthorized };

struct TLabValue {
    QString Name;
    QString Value;
    QString Units;
    QString Reference;
    QString Flag;
};

struct TExtractItem {
    QString Name;
    QString Aliases; // comma-separated, as the item manager edits them
};

// One connection to the service: a base URL and, after a sign-in, a bearer token.
// Status and content errors return false with an error text; transport failures and
// time-outs throw TTransportError. Nothing is retried here. Not thread-safe: the
// operations of one instance must not overlap.
class TApiClient {
public:
    explicit TApiClient(const QString& ABaseUrl);

    const QString& Token() const { return FToken; }
    // The last call's answer refused the token (HTTP 401 or 403), whatever its text said:
    // a new sign-in may help.
    bool TokenRefused() const { return FLastStatus == 401 || FLastStatus == 403; }
    const QString& BaseUrl() const { return FBaseUrl; }
    // Once the flag is set, a poll still waiting for its answer ends at once; one whose
    // answer has begun is read to its end, since the service has let go of its item.
    void SetPollCancelFlag(const std::atomic<bool>* AFlag) { FPollCancel = AFlag; }
    // Once the flag is set, every outstanding and later call ends at once with a
    // transport error (an owner that goes away while a call runs).
    void SetCancelFlag(const std::atomic<bool>* AFlag) { FCancel = AFlag; }

    bool Login(const QString& AEmail, const QString& APassword, QString& AError);
    TPollResult Poll(int AWaitSeconds, QByteArray& AImage, QString& AFilename,
                     QString& AContentType);
    void StopReceiver();
    // The same call for a receiver known only by its token, from any thread: a stopping
    // receiver asks the service to end its own waiting poll, which is blocked elsewhere.
    static void StopReceiver(const QString& ABaseUrl, const QString& AToken);
    bool OcrImage(const QByteArray& AJpeg, const QString& APatientCode, bool APrescription,
                  QString& AText, QString& AError);
    bool ExtractValues(const QString& AText, QList<TLabValue>& AResults, QString& AExamDate,
                       QString& AInstitution, QString& AError);
    bool GetItems(QList<TExtractItem>& AItems, QList<TExtractItem>& ACatalog, QString& AError);
    bool SaveItems(const QList<TExtractItem>& AItems, QString& AError);

    static constexpr int LoginTimeoutMs = 30000;
    static constexpr int StopTimeoutMs = 10000;
    static constexpr int OcrTimeoutMs = 120000;
    static constexpr int ExtractTimeoutMs = 120000;
    static constexpr int ItemsTimeoutMs = 30000;
    // However steadily a body trickles, sign-in and the small calls end after this; a
    // poll after its wait plus its time-out, recognition after its time-out plus this.
    static constexpr qint64 SmallCallDeadlineMs = 60000;
    // Far above any real token (a JWT is a few hundred characters).
    static constexpr int MaxTokenLength = 8192;

private:
    QByteArray Bearer() const;
    // A call with its idle time-out and its overall deadline (see THttpClient).
    std::unique_ptr<THttpClient> NewCall(int AResponseTimeoutMs, qint64 ADeadlineMs) const;

    QString FBaseUrl;
    QString FToken;
    int FLastStatus = 0; // of the last answer, 0 before one or after a transport failure
    const std::atomic<bool>* FPollCancel = nullptr;
    const std::atomic<bool>* FCancel = nullptr;
};

std::unique_ptr<THttpClient> NewHttpClient(int AResponseTimeoutMs);

// A token fit for an Authorization header: 1 to MaxTokenLength visible ASCII characters.
bool IsUsableToken(const QString& AToken);

// "X-Image-Filename" as the service sends it: percent escapes of UTF-8 bytes, "%%"
// for a percent sign, "+" for a blank. Throws TAppError on a malformed escape or bytes
// that are not UTF-8.
QString DecodeImageFilename(const QString& AHeaderValue);
// The alias text split at ASCII commas, pieces trimmed, empty ones dropped.
QStringList SplitAliases(const QString& AAliases);

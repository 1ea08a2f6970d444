#pragma once
#include "service/uAccount.h"
#include "service/uApiClient.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

// What a recognition task works on, copied when it starts so that later edits of the
// window do not reach it.
struct TOcrRequest {
    QByteArray Jpeg;
    bool Rx = false;          // prescription mode
    bool ThenExtract = false; // extract lab values from the text afterwards
    QString Email;            // trimmed
    QString Password;         // as typed
    QString PatientId;        // trimmed
};

struct TOcrResult {
    bool Ok = false;
    QString Text;  // the recognised text
    QString Error; // why it failed
    bool Rx = false;
    bool ThenExtract = false;
    QString PatientId; // as it was when the task started
};

struct TExtractRequest {
    QString Text; // untrimmed
    QString Email;
    QString Password;
    QString PatientId; // trimmed, as it was at the press that led here
};

struct TExtractResult {
    bool Ok = false;
    QList<TLabValue> Values;
    QString ExamDate;
    QString Institution;
    QString Error;
    QString PatientId; // the lab table is filed under this number
    // The account's items with no value among Values, in the account's order, so that staff
    // look for them on the photo. Empty when the items could not be read; ItemsError then
    // says why, and the extraction itself still stands.
    QStringList NotFound;
    QString ItemsError;
    // The account's items in its order (empty when they could not be read).
    QStringList ItemNames;
};

Q_DECLARE_METATYPE(TOcrResult)
Q_DECLARE_METATYPE(TExtractResult)

// The recognition and extraction calls, one at a time, on a pool thread, with one
// service client (FOcrApi) that keeps its sign-in from call to call. A call whose token
// is refused is retried once after a new sign-in. Results come back on the thread
// that owns the job, as queued calls.
//
// The job may be destroyed while a task runs (the window closes): the task's call is
// cancelled, the client lives on with the task until it ends, and the result is
// dropped. Nothing waits.
class TRecognitionJob : public QObject {
    Q_OBJECT
public:
    explicit TRecognitionJob(QObject* AParent = nullptr);
    ~TRecognitionJob() override;

    // FOcrBusy: true from a start until its result has been handed out.
    bool IsBusy() const { return FOcrBusy; }
    bool HasClient() const;
    // The client follows the window: it is made on first use, and made again (to sign in
    // anew) when the server URL or the e-mail address differs from the one it was made
    // for. Never while a task runs: the task keeps the client it started with.
    void EnsureClient(const TAccount& AAccount);
    // For calls made on the owner's thread; null while a task runs or before the first
    // use, so that no two users ever share the client at once.
    TApiClient* IdleClient();

    // Both require a client (EnsureClient) and an idle job.
    void StartOcr(TOcrRequest ARequest);
    void StartExtract(TExtractRequest ARequest);

Q_SIGNALS:
    void OcrFinished(const TOcrResult& AResult);
    void ExtractFinished(const TExtractResult& AResult);

private:
    struct TShared;
    template <class TTask> void StartTask(TTask ATask);
    void Deliver(const TOcrResult& AResult);
    void Deliver(const TExtractResult& AResult);

    std::shared_ptr<TShared> FShared;
    bool FOcrBusy = false;
};

// The call of one task with the sign-in rules (SignedInCall): sign in when there is no
// token; call; when the token is refused, sign in once more and call once more. Transport errors
// and anything else raised end it with the error's message. Runs on any thread.
// A successful extraction then reads the account's items, under the same rules, for NotFound.
TOcrResult RunOcrTask(TApiClient& AApi, const TOcrRequest& ARequest);
TExtractResult RunExtractTask(TApiClient& AApi, const TExtractRequest& ARequest);

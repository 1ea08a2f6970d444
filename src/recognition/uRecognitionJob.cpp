#include "recognition/uRecognitionJob.h"

#include "common/uTextRules.h"
#include "files/uLabTable.h"
#include "service/uSignedInCall.h"

#include <QMetaObject>
#include <QSet>
#include <QThreadPool>
#include <atomic>
#include <mutex>

struct TRecognitionJob::TShared {
    std::atomic<bool> Cancel{false};
    std::mutex Lock;                     // guards Owner
    TRecognitionJob* Owner = nullptr;    // null once the job is gone
    std::unique_ptr<TApiClient> FOcrApi; // made on the owner's thread, used by one at a time
    QString ClientEmail;                 // the account FOcrApi signs in with
};

TOcrResult RunOcrTask(TApiClient& AApi, const TOcrRequest& ARequest) {
    TOcrResult r;
    r.Rx = ARequest.Rx;
    r.ThenExtract = ARequest.ThenExtract;
    r.PatientId = ARequest.PatientId;
    r.Ok = SignedInCall(AApi, ARequest.Email, ARequest.Password, r.Error, [&](QString& AError) {
        r.Text.clear();
        return AApi.OcrImage(ARequest.Jpeg, ARequest.PatientId, ARequest.Rx, r.Text, AError);
    });
    if (!r.Ok)
        r.Text.clear();
    return r;
}

namespace {

// The account's items that have no present value among AValues. The service gives each
// result the item's own name, so names are compared exactly. A value the window does not
// show (blank) counts as not found; a name listed twice is listed once.
void FindMissingItems(TApiClient& AApi, const TExtractRequest& ARequest, TExtractResult& AResult) {
    QList<TExtractItem> items, catalog;
    if (!SignedInCall(AApi, ARequest.Email, ARequest.Password, AResult.ItemsError,
                      [&](QString& AError) { return AApi.GetItems(items, catalog, AError); }))
        return;
    QSet<QString> seen;
    for (const TLabValue& v : AResult.Values)
        if (LabTable::IsPresent(v))
            seen.insert(v.Name);
    for (const TExtractItem& item : items) {
        // A nameless item names nothing to look for.
        if (!TextRules::Trim(item.Name).isEmpty())
            AResult.ItemNames.append(item.Name);
        if (TextRules::Trim(item.Name).isEmpty() || seen.contains(item.Name))
            continue;
        seen.insert(item.Name);
        AResult.NotFound.append(item.Name);
    }
}

} // namespace

TExtractResult RunExtractTask(TApiClient& AApi, const TExtractRequest& ARequest) {
    TExtractResult r;
    r.PatientId = ARequest.PatientId;
    r.Ok = SignedInCall(AApi, ARequest.Email, ARequest.Password, r.Error, [&](QString& AError) {
        return AApi.ExtractValues(ARequest.Text, r.Values, r.ExamDate, r.Institution, AError);
    });
    if (r.Ok)
        FindMissingItems(AApi, ARequest, r);
    return r;
}

TRecognitionJob::TRecognitionJob(QObject* AParent)
    : QObject(AParent), FShared(std::make_shared<TShared>()) {
    FShared->Owner = this;
}

TRecognitionJob::~TRecognitionJob() {
    // A running task ends its call at once; its result then has nowhere to go.
    FShared->Cancel = true;
    const std::lock_guard<std::mutex> guard(FShared->Lock);
    FShared->Owner = nullptr;
}

bool TRecognitionJob::HasClient() const {
    return FShared->FOcrApi != nullptr;
}

void TRecognitionJob::EnsureClient(const TAccount& AAccount) {
    if (FOcrBusy)
        return;
    if (FShared->FOcrApi && FShared->FOcrApi->BaseUrl() == AAccount.Url &&
        FShared->ClientEmail == AAccount.Email)
        return;
    FShared->FOcrApi = std::make_unique<TApiClient>(AAccount.Url);
    FShared->FOcrApi->SetCancelFlag(&FShared->Cancel);
    FShared->ClientEmail = AAccount.Email;
}

TApiClient* TRecognitionJob::IdleClient() {
    return FOcrBusy ? nullptr : FShared->FOcrApi.get();
}

// The lock makes sure the job is not destroyed while the result is being queued to it;
// a queued call to a job destroyed later is discarded with the job's posted events.
template <class TTask> void TRecognitionJob::StartTask(TTask ATask) {
    FOcrBusy = true;
    QThreadPool::globalInstance()->start([shared = FShared, task = std::move(ATask)] {
        auto result = task(*shared->FOcrApi);
        const std::lock_guard<std::mutex> guard(shared->Lock);
        if (shared->Owner == nullptr)
            return;
        TRecognitionJob* owner = shared->Owner;
        QMetaObject::invokeMethod(
            owner, [owner, result = std::move(result)] { owner->Deliver(result); },
            Qt::QueuedConnection);
    });
}

void TRecognitionJob::StartOcr(TOcrRequest ARequest) {
    Q_ASSERT(FShared->FOcrApi && !FOcrBusy);
    StartTask(
        [request = std::move(ARequest)](TApiClient& AApi) { return RunOcrTask(AApi, request); });
}

void TRecognitionJob::StartExtract(TExtractRequest ARequest) {
    Q_ASSERT(FShared->FOcrApi && !FOcrBusy);
    StartTask([request = std::move(ARequest)](TApiClient& AApi) {
        return RunExtractTask(AApi, request);
    });
}

void TRecognitionJob::Deliver(const TOcrResult& AResult) {
    FOcrBusy = false;
    Q_EMIT OcrFinished(AResult);
}

void TRecognitionJob::Deliver(const TExtractResult& AResult) {
    FOcrBusy = false;
    Q_EMIT ExtractFinished(AResult);
}

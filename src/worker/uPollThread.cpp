#include "worker/uPollThread.h"

#include "common/uErrors.h"
#include "service/uApiClient.h"
#include "service/uHttp.h"
#include "service/uTextCharset.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QMutexLocker>
#include <QSet>
#include <QThreadPool>
#include <QTimer>
#include <algorithm>

namespace {
QMutex GRegistryLock;
QSet<TPollThread*> GLiveWorkers;
} // namespace

TPollThread* TPollThread::Create(const QString& ABaseUrl, const QString& AEmail,
                                 const QString& APassword, TImageProc AOnImage, TTextProc AOnText,
                                 TStatusProc AOnStatus, const TPollTimings& ATimings) {
    auto* worker = new TPollThread(ABaseUrl, AEmail, APassword, std::move(AOnImage),
                                   std::move(AOnText), std::move(AOnStatus), ATimings);
    // Frees itself: the object lives on the creating thread, so deleteLater runs there,
    // and deleting it also discards any call of it still queued. The connection is
    // direct so the request is a deferred delete, which DropQueuedCalls leaves alone.
    connect(worker, &QThread::finished, worker, &QObject::deleteLater, Qt::DirectConnection);
    worker->start();
    return worker;
}

TPollThread::TPollThread(const QString& ABaseUrl, const QString& AEmail, const QString& APassword,
                         TImageProc AOnImage, TTextProc AOnText, TStatusProc AOnStatus,
                         const TPollTimings& ATimings)
    : FApi(std::make_unique<TApiClient>(ABaseUrl)), FEmail(AEmail), FPassword(APassword),
      FOnImage(std::move(AOnImage)), FOnText(std::move(AOnText)), FOnStatus(std::move(AOnStatus)),
      FStatusContext(std::make_unique<QObject>()), FTimings(ATimings) {
    FApi->SetPollCancelFlag(&FCancelPoll);
    FApi->SetCancelFlag(&FAbandon);
    QMutexLocker lock(&GRegistryLock);
    GLiveWorkers.insert(this);
}

TPollThread::~TPollThread() {
    QMutexLocker lock(&GRegistryLock);
    GLiveWorkers.remove(this);
}

void TPollThread::DetachEvents() {
    {
        QMutexLocker lock(&FLock);
        FOnImage = nullptr;
        FOnText = nullptr;
        FOnStatus = nullptr;
    }
    // Nobody could take an item any more: cut the poll even while its answer arrives, so
    // that the service keeps the item for the next receiver.
    FAbandon = true;
    requestInterruption();
}

void TPollThread::DropQueuedCalls() {
    // Calls are queued while FLock is held and only while a callback is set, so after
    // DetachEvents nothing new can be queued and this removes everything that was.
    QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
    QCoreApplication::removePostedEvents(FStatusContext.get(), QEvent::MetaCall);
}

void TPollThread::Stop() {
    QString token;
    {
        QMutexLocker lock(&FLock);
        FOnStatus = nullptr;
        token = FToken;
    }
    QCoreApplication::removePostedEvents(FStatusContext.get(), QEvent::MetaCall);
    requestInterruption();
    // Cutting the poll ourselves could lose an item that the service is handing over at
    // that moment; asking the service to end it cannot. The worker thread is blocked in
    // the poll, so the call goes from the pool.
    if (!token.isEmpty()) {
        FStopSent = true;
        QThreadPool::globalInstance()->start([url = FApi->BaseUrl(), token] {
            try {
                TApiClient::StopReceiver(url, token);
            } catch (const std::exception&) {
                // The grace below ends the poll all the same.
            }
        });
    }
    QTimer::singleShot(FTimings.StopGraceMs, this, [this] { FCancelPoll = true; });
}

void TPollThread::QueueStatus(const QString& AMessage, bool AConnected) {
    QMutexLocker lock(&FLock);
    if (!FOnStatus)
        return;
    QMetaObject::invokeMethod(
        FStatusContext.get(), [cb = FOnStatus, AMessage, AConnected] { cb(AMessage, AConnected); },
        Qt::QueuedConnection);
}

void TPollThread::QueueImage(const QString& AFilename, const QString& AContentType,
                             const QByteArray& AData) {
    QMutexLocker lock(&FLock);
    if (!FOnImage)
        return;
    QMetaObject::invokeMethod(
        this,
        [cb = FOnImage, AFilename, AContentType, AData] { cb(AFilename, AContentType, AData); },
        Qt::QueuedConnection);
}

void TPollThread::QueueText(const QString& AFilename, const QByteArray& AData) {
    QMutexLocker lock(&FLock);
    if (!FOnText)
        return;
    QMetaObject::invokeMethod(
        this, [cb = FOnText, AFilename, AData] { cb(AFilename, AData); }, Qt::QueuedConnection);
}

bool TPollThread::InterruptibleWait(int AMs) {
    int elapsed = 0;
    while (elapsed < AMs && !isInterruptionRequested()) {
        QThread::msleep(static_cast<unsigned long>(FTimings.SliceMs));
        elapsed += FTimings.SliceMs;
    }
    return !isInterruptionRequested();
}

void TPollThread::run() {
    bool needSignIn = true;
    int refusalsInARow = 0;
    int backoffMs = 0; // 0: the service answers normally
    // A service in trouble is not hammered: each abnormal answer doubles the pause.
    const auto backOff = [&] {
        backoffMs = backoffMs == 0 ? FTimings.BackoffFirstMs
                                   : std::min(2 * backoffMs, FTimings.SignInRetryMs);
        InterruptibleWait(backoffMs);
    };
    while (!isInterruptionRequested()) {
        try {
            if (needSignIn) {
                QueueStatus(QStringLiteral("ログイン中..."), false);
                QString error;
                if (!FApi->Login(FEmail, FPassword, error)) {
                    QueueStatus(QStringLiteral("ログイン失敗: ") + error +
                                    QStringLiteral("（30秒後に再試行します）"),
                                false);
                    if (!InterruptibleWait(FTimings.SignInRetryMs))
                        break;
                    continue;
                }
                needSignIn = false;
                {
                    QMutexLocker lock(&FLock);
                    FToken = FApi->Token();
                }
                QueueStatus(QStringLiteral("受信中（スマートフォンから送信できます）"), true);
            }
            QByteArray body;
            QString filename;
            QString contentType;
            QElapsedTimer answered;
            answered.start();
            const TPollResult result =
                FApi->Poll(FTimings.WaitSeconds, body, filename, contentType);
            if (result != TPollResult::prUnauthorized)
                refusalsInARow = 0;
            switch (result) {
            case TPollResult::prImage:
                backoffMs = 0;
                QueueImage(filename, contentType, body);
                break;
            case TPollResult::prText:
                backoffMs = 0;
                QueueText(filename, TextAsUtf8(contentType, body));
                break;
            case TPollResult::prUnauthorized:
                // An expired token: sign in again at once. Refused again straight after a
                // sign-in the service accepted: it will be again, so pause.
                needSignIn = true;
                if (++refusalsInARow > 1)
                    backOff();
                break;
            case TPollResult::prEmpty:
                if (answered.elapsed() >= FTimings.QuickAnswerMs)
                    backoffMs = 0;
                else
                    backOff();
                break;
            }
        } catch (const std::exception& e) {
            QueueStatus(QStringLiteral("通信エラー: ") + ErrorMessage(e) +
                            QStringLiteral("（5秒後に再接続します）"),
                        false);
            if (!InterruptibleWait(FTimings.ErrorRetryMs))
                break;
        }
    }
    Q_EMIT PollingEnded();
    try {
        if (!FStopSent)
            FApi->StopReceiver();
    } catch (...) {
        // The service learns of the stop another way; nothing to tell the user.
    }
}

int TPollThread::LiveCount() {
    QMutexLocker lock(&GRegistryLock);
    return int(GLiveWorkers.size());
}

bool TPollThread::ShutdownAll(int AGraceMs) {
    QList<TPollThread*> workers;
    {
        QMutexLocker lock(&GRegistryLock);
        workers = GLiveWorkers.values();
        for (TPollThread* w : workers) {
            w->Stop();
            w->FAbandon = true; // the program ends: no grace, nobody to hand an item to
        }
    }
    const QDeadlineTimer deadline(AGraceMs);
    for (TPollThread* w : workers) {
        if (!w->wait(deadline))
            return false;
    }
    return true;
}

#include "worker/uReceivingSession.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <algorithm>

TReceivingSession::TReceivingSession(QObject* AParent) : QObject(AParent) {}

TReceivingSession::~TReceivingSession() {
    Stop();
    for (const TStopping& s : FStopping) {
        if (s.Worker) {
            s.Worker->DetachEvents();
            s.Worker->DropQueuedCalls();
        }
    }
}

void TReceivingSession::Start(const TAccount& AAccount) {
    if (IsReceiving())
        return;
    FPending = AAccount;
    StartWhenClear();
}

bool TReceivingSession::WaitForStopped(int AMs) {
    const QDeadlineTimer deadline(AMs);
    while (StillPolling() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    // The item of a poll that ended comes in a queued call posted before the end.
    QCoreApplication::processEvents();
    return !StillPolling();
}

bool TReceivingSession::StillPolling() const {
    for (const TStopping& s : FStopping) {
        if (s.Worker && s.Polling)
            return true;
    }
    return false;
}

void TReceivingSession::StartWhenClear() {
    if (!FPending || FThread != nullptr || StillPolling())
        return;
    const TAccount account = *FPending;
    FPending.reset();
    // The worker queues its calls to this thread; none outlives the session, whose
    // destructor detaches every worker not yet ended and drops what they queued.
    FThread = TPollThread::Create(
        account.Url, account.Email, account.Password,
        [this](const QString& AName, const QString& AType, const QByteArray& AData) {
            Q_EMIT ImageReceived(AName, AType, AData);
        },
        [this](const QString& AName, const QByteArray& AData) {
            Q_EMIT TextReceived(AName, AData);
        },
        [this](const QString& AMessage, bool AConnected) {
            Q_EMIT StatusChanged(AMessage, AConnected);
        },
        FPollTimings);
}

void TReceivingSession::Stop() {
    FPending.reset();
    if (FThread == nullptr)
        return;
    TPollThread* worker = FThread;
    FThread = nullptr;
    FStopping.erase(std::remove_if(FStopping.begin(), FStopping.end(),
                                   [](const TStopping& s) { return !s.Worker || !s.Polling; }),
                    FStopping.end());
    FStopping.append({worker, true});
    connect(worker, &TPollThread::PollingEnded, this, [this, worker] {
        for (TStopping& s : FStopping) {
            if (s.Worker == worker)
                s.Polling = false;
        }
        StartWhenClear();
    });
    // Ended already (its signal may be gone with it): nothing can poll any more.
    connect(worker, &QObject::destroyed, this, [this] { StartWhenClear(); });
    worker->Stop();
}

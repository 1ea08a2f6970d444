#include "ui/uReceivingSession.h"

TReceivingSession::TReceivingSession(QObject* AParent) : QObject(AParent) {}

TReceivingSession::~TReceivingSession() {
    Stop();
}

void TReceivingSession::Start(const QString& ABaseUrl, const QString& AEmail,
                              const QString& APassword) {
    if (FThread != nullptr)
        return;
    // The worker queues its calls to this thread; the session outlives none of them,
    // because Stop drops whatever is still queued.
    FThread = TPollThread::Create(
        ABaseUrl, AEmail, APassword,
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
    if (FThread == nullptr)
        return;
    FThread->Stop();
    FThread = nullptr;
}

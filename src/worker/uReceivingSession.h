#pragma once
#include "service/uAccount.h"
#include "worker/uPollThread.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <optional>

// Receiving on or off: the one worker that signs in and long-polls while receiving is on,
// and its events as signals on the owner's thread.
class TReceivingSession : public QObject {
    Q_OBJECT
public:
    explicit TReceivingSession(QObject* AParent = nullptr);
    ~TReceivingSession() override; // stops receiving

    // Tests shorten the worker's pauses.
    void SetPollTimings(const TPollTimings& ATimings) { FPollTimings = ATimings; }

    bool IsReceiving() const { return FThread != nullptr || FPending; }
    // Starts a worker unless one runs already. A worker stopped a moment ago may still be
    // finishing its last poll; the new one starts polling only after that, so that two
    // polls never take items at once.
    void Start(const TAccount& AAccount);
    // Ends receiving at once. An item the worker took just before still arrives (as
    // ImageReceived or TextReceived); no status does.
    void Stop();
    // After Stop, for an owner about to go: lets the stopping workers' last polls end,
    // delivering what they took, for at most AMs. False when one still polls then.
    bool WaitForStopped(int AMs);

Q_SIGNALS:
    void ImageReceived(const QString& AFilename, const QString& AContentType,
                       const QByteArray& AData);
    void TextReceived(const QString& AFilename, const QByteArray& AData);
    void StatusChanged(const QString& AMessage, bool AConnected);

private:
    void StartWhenClear();
    bool StillPolling() const;

    TPollThread* FThread = nullptr;   // not owned: it frees itself
    std::optional<TAccount> FPending; // a start waiting for stopped workers
    // Stopped workers that have not ended yet: their last items still come here, so the
    // session detaches them when it goes; a new start waits while one still polls.
    struct TStopping {
        QPointer<TPollThread> Worker;
        bool Polling = true;
    };
    QList<TStopping> FStopping;
    TPollTimings FPollTimings;
};

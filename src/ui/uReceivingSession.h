#pragma once
#include "worker/uPollThread.h"

#include <QByteArray>
#include <QObject>
#include <QString>

// Receiving on or off: the one worker that signs in and long-polls while receiving is on,
// and its events as signals on the owner's thread.
class TReceivingSession : public QObject {
    Q_OBJECT
public:
    explicit TReceivingSession(QObject* AParent = nullptr);
    ~TReceivingSession() override; // stops receiving

    // Tests shorten the worker's pauses.
    void SetPollTimings(const TPollTimings& ATimings) { FPollTimings = ATimings; }

    bool IsReceiving() const { return FThread != nullptr; }
    // Starts a worker unless one runs already.
    void Start(const QString& ABaseUrl, const QString& AEmail, const QString& APassword);
    // Detaches the worker, which finishes its request, says goodbye and frees itself.
    void Stop();

Q_SIGNALS:
    void ImageReceived(const QString& AFilename, const QString& AContentType,
                       const QByteArray& AData);
    void TextReceived(const QString& AFilename, const QByteArray& AData);
    void StatusChanged(const QString& AMessage, bool AConnected);

private:
    TPollThread* FThread = nullptr; // not owned: it frees itself
    TPollTimings FPollTimings;
};

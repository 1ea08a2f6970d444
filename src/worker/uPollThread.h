#pragma once
#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QThread>
#include <atomic>
#include <functional>
#include <memory>

class TApiClient;

using TImageProc =
    std::function<void(const QString& AFilename, const QString& AContentType, const QByteArray& AData)>;
using TTextProc = std::function<void(const QString& AFilename, const QByteArray& AData)>;
using TStatusProc = std::function<void(const QString& AMessage, bool AConnected)>;

// Pauses of the receiving loop; tests shorten them.
struct TPollTimings {
    int SignInRetryMs = 30000;
    int ErrorRetryMs = 5000;
    int WaitSeconds = 25;
    int SliceMs = 100;
};

// The receiving worker: signs in, long-polls without pause, signs in again when the
// token is refused, pauses after failures, and hands every status, image and text to
// the thread that created it as queued calls. It never touches a widget.
//
// Owner's stop sequence, on the creating thread: DetachEvents(), requestInterruption(),
// DropQueuedCalls(), then forget the pointer. The worker finishes its current request,
// tells the service it stopped, and frees itself.
class TPollThread : public QThread {
    Q_OBJECT
public:
    // Builds the worker and starts it at once.
    static TPollThread* Create(const QString& ABaseUrl, const QString& AEmail,
                               const QString& APassword, TImageProc AOnImage, TTextProc AOnText,
                               TStatusProc AOnStatus, const TPollTimings& ATimings = TPollTimings());

    void DetachEvents();
    void DropQueuedCalls();
    // The owner's whole stop sequence.
    void Stop();

    // At program end: ask every live worker to stop, cut their outstanding polls short,
    // and wait up to AGraceMs for them to end. False when some are still running.
    static bool ShutdownAll(int AGraceMs);
    static int LiveCount();

protected:
    void run() override;

private:
    TPollThread(const QString& ABaseUrl, const QString& AEmail, const QString& APassword,
                TImageProc AOnImage, TTextProc AOnText, TStatusProc AOnStatus,
                const TPollTimings& ATimings);
    ~TPollThread() override;

    void QueueStatus(const QString& AMessage, bool AConnected);
    void QueueImage(const QString& AFilename, const QString& AContentType, const QByteArray& AData);
    void QueueText(const QString& AFilename, const QByteArray& AData);
    bool InterruptibleWait(int AMs);

    std::unique_ptr<TApiClient> FApi;
    QString FEmail;
    QString FPassword;
    TImageProc FOnImage;
    TTextProc FOnText;
    TStatusProc FOnStatus;
    QMutex FLock; // guards the three callbacks; held while a call is queued
    std::atomic<bool> FCancelPoll{false};
    TPollTimings FTimings;
};

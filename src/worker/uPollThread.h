#pragma once
#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QThread>
#include <atomic>
#include <functional>
#include <memory>

class TApiClient;

using TImageProc = std::function<void(const QString& AFilename, const QString& AContentType,
                                      const QByteArray& AData)>;
// A text arrives as UTF-8, converted from the charset it declared; bytes that were not
// valid in that charset arrive unchanged.
using TTextProc = std::function<void(const QString& AFilename, const QByteArray& AData)>;
using TStatusProc = std::function<void(const QString& AMessage, bool AConnected)>;

// Pauses of the receiving loop; tests shorten them.
struct TPollTimings {
    int SignInRetryMs = 30000;
    int ErrorRetryMs = 5000;
    int WaitSeconds = 25;
    int SliceMs = 100;
    // After a stop, a poll the service has not ended is cut short after this long.
    int StopGraceMs = 2000;
    // An empty answer sooner than this, or a token refused again straight after signing
    // in, means a service in trouble rather than one that waited: the worker then pauses,
    // from BackoffFirstMs doubling up to SignInRetryMs, until a normal answer comes.
    int QuickAnswerMs = 500;
    int BackoffFirstMs = 1000;
};

// The receiving worker: signs in, long-polls without pause, signs in again when the
// token is refused, pauses after failures, and hands every status, image and text to
// the thread that created it as queued calls. It never touches a widget.
//
// Stop() ends receiving: no status reaches the owner any more, and the service is told
// at once that this receiver stopped, so that it ends the waiting poll instead of handing
// it an item. A poll still open after a grace is cut short. An item the worker has taken
// all the same is handed over: the service has let go of it. DetachEvents(), for an owner
// that goes away, cuts every call at once, even an answer on its way, so that the service
// keeps an item that nobody could take any more; DropQueuedCalls() then drops what was
// queued before. The worker then frees itself.
class TPollThread : public QThread {
    Q_OBJECT
public:
    // Builds the worker and starts it at once.
    static TPollThread* Create(const QString& ABaseUrl, const QString& AEmail,
                               const QString& APassword, TImageProc AOnImage, TTextProc AOnText,
                               TStatusProc AOnStatus,
                               const TPollTimings& ATimings = TPollTimings());

    // Detaches every callback, items included, and abandons the poll (see above); then
    // DropQueuedCalls() drops what was queued.
    void DetachEvents();
    void DropQueuedCalls();
    // Ends receiving; items already taken still reach the owner (see above).
    void Stop();

    // At program end: ask every live worker to stop, cut their outstanding polls short,
    // and wait up to AGraceMs for them to end. False when some are still running.
    static bool ShutdownAll(int AGraceMs);
    static int LiveCount();

Q_SIGNALS:
    // The worker takes no more items: its last poll has ended. It may still be telling
    // the service that it stopped.
    void PollingEnded();

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
    QMutex FLock;   // guards the three callbacks and FToken; held while a call is queued
    QString FToken; // of the last sign-in, for the stop call made from the owner's thread
    // Status calls are queued to this object, so that a stop can drop them alone.
    std::unique_ptr<QObject> FStatusContext;
    std::atomic<bool> FCancelPoll{false}; // ends a poll still waiting for its answer
    std::atomic<bool> FAbandon{false};    // ends every call at once, even mid-answer
    std::atomic<bool> FStopSent{false};   // Stop() has told the service already
    TPollTimings FTimings;
};

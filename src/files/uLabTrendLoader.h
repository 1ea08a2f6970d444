#pragma once
#include "files/uLabTrend.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>

class QThread;

namespace LabTrend {

// Called now and then while the tables are read: how many of how many.
using TProgress = std::function<void(qsizetype ADone, qsizetype ATotal)>;

// The saved lab tables of APatientId in AFolder's tree, with the history's walk and limit
// (the newest HistoryScan::MaxFiles of them), each read and parsed, as a trend. Files that
// cannot be read are listed in Problems with the reason; nothing is written. False with
// the system's error text when AFolder cannot be listed; ACancel (when given) ends the
// reading early with false and an empty error.
bool Load(const QString& AFolder, const QString& APatientId, const QStringList& AItemOrder,
          TLabTrend& ATrend, QString& AError, const TProgress& AProgress = {},
          const std::atomic_bool* ACancel = nullptr);

// Whether AName is one of APatientId's lab tables, by the history's name rules.
bool IsLabTableOf(const QString& AName, const QString& APatientId);

} // namespace LabTrend

// Load on a thread of its own; the results come back as queued signals on the thread
// that owns the loader. Destroying the loader stops the reading and waits for the thread,
// so nothing arrives afterwards.
class TLabTrendLoader : public QObject {
    Q_OBJECT
public:
    explicit TLabTrendLoader(QObject* AParent = nullptr);
    ~TLabTrendLoader() override;

    // Starts reading; a load still running is stopped first and its results dropped.
    void Start(const QString& AFolder, const QString& APatientId, const QStringList& AItemOrder);
    bool IsRunning() const;

Q_SIGNALS:
    void Progress(qsizetype ADone, qsizetype ATotal);
    // AOk false: the folder could not be listed (AError says why).
    void Finished(bool AOk, const TLabTrend& ATrend, const QString& AError);

private:
    void Stop();

    std::unique_ptr<QThread> FThread;
    std::shared_ptr<std::atomic_bool> FCancel;
    quint64 FGeneration = 0; // results of a stopped load are dropped by this
};

#include "files/uLabTrendLoader.h"

#include "files/uHistoryScan.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <algorithm>

namespace LabTrend {

bool IsLabTableOf(const QString& AName, const QString& APatientId) {
    // The cheap test first: most of a clinic's files are other patients'.
    if (APatientId.isEmpty() || !AName.contains(APatientId) || !AName.contains(u"_検査"))
        return false;
    return HistoryScan::KarteNoOf(AName) == APatientId &&
           HistoryScan::KindOf(AName) == QStringLiteral("検査");
}

namespace {

// The whole file, or false with the reason; never more than MaxBytes read.
bool ReadBytes(const QString& APath, QByteArray& ABytes, QString& AReason) {
    QFile file(APath);
    if (!file.open(QIODevice::ReadOnly)) {
        AReason = QStringLiteral("開けません: ") + file.errorString();
        return false;
    }
    ABytes = file.read(LabTableFile::MaxBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        AReason = QStringLiteral("読み取れません: ") + file.errorString();
        return false;
    }
    if (ABytes.size() > LabTableFile::MaxBytes) {
        AReason = QStringLiteral("大きすぎます（検査値の表ではありません）");
        return false;
    }
    return true;
}

} // namespace

bool Load(const QString& AFolder, const QString& APatientId, const QStringList& AItemOrder,
          TLabTrend& ATrend, QString& AError, const TProgress& AProgress,
          const std::atomic_bool* ACancel) {
    ATrend = {};
    ATrend.PatientId = APatientId;
    AError.clear();
    QList<TFileEntry> entries;
    qsizetype leftOut = 0;
    if (!HistoryScan::ScanFolderFor(
            AFolder,
            [&APatientId](const QString& AName) { return IsLabTableOf(AName, APatientId); },
            entries, AError, &leftOut))
        return false;
    QList<TLabTableSource> tables;
    QList<TLabFileProblem> problems;
    QElapsedTimer sinceReport;
    sinceReport.start();
    const qsizetype total = entries.size();
    for (qsizetype i = 0; i < total; ++i) {
        if (ACancel != nullptr && ACancel->load(std::memory_order_relaxed))
            return false;
        if (AProgress && sinceReport.elapsed() >= 50) {
            AProgress(i, total);
            sinceReport.restart();
        }
        const TFileEntry& entry = entries.at(i);
        QByteArray bytes;
        QString reason;
        TLabTableSource source{entry.Path, entry.Name, {}};
        if (!ReadBytes(entry.Path, bytes, reason) ||
            !LabTableFile::Parse(bytes, source.Table, reason)) {
            problems.append({entry.Name, entry.Path, reason, true});
            continue;
        }
        if (!source.Table.Notes.isEmpty())
            problems.append(
                {entry.Name, entry.Path, source.Table.Notes.join(QStringLiteral("／")), false});
        tables.append(std::move(source));
    }
    if (AProgress)
        AProgress(total, total);
    ATrend = Build(APatientId, std::move(tables), AItemOrder);
    // Newest first, as the history lists them.
    std::reverse(problems.begin(), problems.end());
    ATrend.Problems = std::move(problems);
    ATrend.LeftOut = leftOut;
    return true;
}

} // namespace LabTrend

TLabTrendLoader::TLabTrendLoader(QObject* AParent) : QObject(AParent) {}

TLabTrendLoader::~TLabTrendLoader() {
    Stop();
}

bool TLabTrendLoader::IsRunning() const {
    return FThread != nullptr && FThread->isRunning();
}

void TLabTrendLoader::Stop() {
    if (FThread == nullptr)
        return;
    FCancel->store(true);
    FThread->wait();
    FThread.reset();
    ++FGeneration;
}

void TLabTrendLoader::Start(const QString& AFolder, const QString& APatientId,
                            const QStringList& AItemOrder) {
    Stop();
    FCancel = std::make_shared<std::atomic_bool>(false);
    const quint64 generation = ++FGeneration;
    // The thread reaches the loader only through queued calls, which Qt drops once the
    // loader is gone; the loader waits for the thread before it goes.
    FThread.reset(QThread::create([this, generation, cancel = FCancel, folder = AFolder,
                                   patient = APatientId, order = AItemOrder] {
        const auto post = [this, generation](auto AWork) {
            QMetaObject::invokeMethod(
                this,
                [this, generation, work = std::move(AWork)] {
                    if (generation == FGeneration)
                        work();
                },
                Qt::QueuedConnection);
        };
        TLabTrend trend;
        QString error;
        const bool ok = LabTrend::Load(
            folder, patient, order, trend, error,
            [&post, this](qsizetype ADone, qsizetype ATotal) {
                post([this, ADone, ATotal] { Q_EMIT Progress(ADone, ATotal); });
            },
            cancel.get());
        if (cancel->load())
            return;
        post([this, ok, trend = std::move(trend), error] { Q_EMIT Finished(ok, trend, error); });
    }));
    FThread->start();
}

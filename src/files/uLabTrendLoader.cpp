#include "files/uLabTrendLoader.h"

#include "common/uTextRules.h"
#include "files/uHistoryScan.h"
#include "platform/uFolderFiles.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

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
    // By the size first: read(MaxBytes) would allocate that much for every small file.
    const qint64 size = file.size();
    if (size > LabTableFile::MaxBytes) {
        AReason = QStringLiteral("大きすぎます（検査値の表ではありません）");
        return false;
    }
    ABytes = file.read(size + 1);
    if (file.error() != QFileDevice::NoError) {
        AReason = QStringLiteral("読み取れません: ") + file.errorString();
        return false;
    }
    if (ABytes.size() > size) {
        AReason = QStringLiteral("読み込み中に書き換えられました");
        return false;
    }
    return true;
}

} // namespace

namespace {

// One of the patient's tables: where the walk found it, and what reading it gave.
struct TFound {
    TFileEntry Entry;
    bool Ok = false;
    QString Reason;
    TLabTableSource Source;
};

void ReadOne(TFound& AFound) {
    AFound.Source.Path = AFound.Entry.Path;
    AFound.Source.FileName = AFound.Entry.Name;
    QByteArray bytes;
    AFound.Ok = ReadBytes(AFound.Entry.Path, bytes, AFound.Reason) &&
                LabTableFile::Parse(bytes, AFound.Source.Table, AFound.Reason);
    if (AFound.Ok)
        ReadAll(AFound.Source);
}

// The tables handed over while the walk goes on, read by the threads that take them. A
// std::deque keeps the address of what was handed over while more is added.
class TReadQueue {
public:
    explicit TReadQueue(const std::atomic_bool* ACancel) : FCancel(ACancel) {}

    bool Cancelled() const {
        return FCancel != nullptr && FCancel->load(std::memory_order_relaxed);
    }
    void Add(TFileEntry AEntry) {
        {
            const std::lock_guard<std::mutex> hold(FLock);
            FFound.push_back({std::move(AEntry), false, {}, {}});
        }
        FMore.notify_one();
    }
    void Close() {
        {
            const std::lock_guard<std::mutex> hold(FLock);
            FClosed = true;
        }
        FMore.notify_all();
    }
    qsizetype Found() {
        const std::lock_guard<std::mutex> hold(FLock);
        return qsizetype(FFound.size());
    }
    // Reads until the queue is closed and empty, or the load is cancelled.
    void Work(const TProgress& AProgress) {
        QElapsedTimer sinceReport;
        sinceReport.start();
        for (;;) {
            TFound* next = nullptr;
            {
                std::unique_lock<std::mutex> hold(FLock);
                FMore.wait(hold,
                           [this] { return FNext < FFound.size() || FClosed || Cancelled(); });
                if (Cancelled() || FNext >= FFound.size())
                    return;
                next = &FFound[FNext++];
            }
            ReadOne(*next);
            ++FDone;
            if (AProgress && sinceReport.elapsed() >= 50) {
                AProgress(FDone.load(), Found());
                sinceReport.restart();
            }
        }
    }
    std::deque<TFound>& Items() { return FFound; } // once every reader has ended

private:
    const std::atomic_bool* FCancel;
    std::mutex FLock;
    std::condition_variable FMore;
    std::deque<TFound> FFound;
    std::size_t FNext = 0;
    bool FClosed = false;
    std::atomic<qsizetype> FDone{0};
};

// Readers beside the thread that walks; it joins them once the walk is done.
int HelperCount() {
    return std::clamp(QThread::idealThreadCount() - 1, 1, 3);
}

} // namespace

bool Load(const QString& AFolder, const QString& APatientId, const QStringList& AItemOrder,
          TLabTrend& ATrend, QString& AError, const TProgress& AProgress,
          const std::atomic_bool* ACancel) {
    ATrend = {};
    ATrend.PatientId = APatientId;
    AError.clear();
    TReadQueue queue(ACancel);
    // The walk hands each table to the readers as it meets it, so that reading overlaps
    // the walk. The history's limit: past MaxFiles tables the walk stops, and the newest
    // MaxFiles are taken with the history's own scan instead.
    bool overLimit = false;
    qsizetype walked = 0;
    std::vector<std::unique_ptr<QThread>> helpers;
    for (int h = 0; h < HelperCount(); ++h) {
        helpers.emplace_back(QThread::create([&queue] { queue.Work({}); }));
        helpers.back()->start();
    }
    const bool listed = WalkFolderFiles(
        AFolder, [&APatientId](const QString& AName) { return IsLabTableOf(AName, APatientId); },
        [&](TFolderFile&& AFile) {
            if (++walked > HistoryScan::MaxFiles) {
                overLimit = true;
                return false;
            }
            TFileEntry entry;
            entry.Path = AFile.Folder + AFile.Name;
            entry.KarteNo = APatientId;
            entry.Kind = QStringLiteral("検査");
            entry.Name = std::move(AFile.Name);
            entry.Modified = std::move(AFile.Modified);
            entry.Size = AFile.Size;
            queue.Add(std::move(entry));
            return !queue.Cancelled();
        },
        AError);
    queue.Close();
    queue.Work(AProgress);
    for (const auto& helper : helpers)
        helper->wait();
    if (queue.Cancelled())
        return false;
    if (!listed && !overLimit)
        return false;

    std::deque<TFound>& found = queue.Items();
    qsizetype leftOut = 0;
    if (overLimit) {
        AError.clear();
        QList<TFileEntry> entries;
        if (!HistoryScan::ScanFolderFor(
                AFolder,
                [&APatientId](const QString& AName) { return IsLabTableOf(AName, APatientId); },
                entries, AError, &leftOut))
            return false;
        found.clear();
        for (TFileEntry& entry : entries) {
            if (queue.Cancelled())
                return false;
            found.push_back({std::move(entry), false, {}, {}});
            ReadOne(found.back());
        }
    }
    // In the history's order, newest first, so that the skipped files are listed as the
    // history lists them.
    std::vector<TFound*> order;
    order.reserve(found.size());
    for (TFound& f : found)
        order.push_back(&f);
    std::stable_sort(order.begin(), order.end(), [](const TFound* A, const TFound* B) {
        const qint64 a = A->Entry.Modified.toMSecsSinceEpoch();
        const qint64 b = B->Entry.Modified.toMSecsSinceEpoch();
        if (a != b)
            return a > b;
        return TextRules::AsciiLower(A->Entry.Name) < TextRules::AsciiLower(B->Entry.Name);
    });
    QList<TLabTableSource> tables;
    QList<TLabFileProblem> problems;
    tables.reserve(qsizetype(order.size()));
    for (TFound* f : order) {
        if (!f->Ok) {
            problems.append({f->Entry.Name, f->Entry.Path, f->Reason, true});
            continue;
        }
        if (!f->Source.Table.Notes.isEmpty())
            problems.append({f->Entry.Name, f->Entry.Path,
                             f->Source.Table.Notes.join(QStringLiteral("／")), false});
        tables.append(std::move(f->Source));
    }
    if (AProgress)
        AProgress(qsizetype(order.size()), qsizetype(order.size()));
    ATrend = Build(APatientId, std::move(tables), AItemOrder);
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

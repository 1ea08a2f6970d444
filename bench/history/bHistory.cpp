// The saved-file history over a tree of 5000 listed files (and 2000 that are not listed)
// in nested folders, made in a temporary folder:
// - the scan (walk, name rules, times, sort) against `find DIR -type f -printf
//   '%T@ %s %p\n'` run as a command on the same tree, output to /dev/null;
// - one keystroke in the search box of a real window on the offscreen platform (filter,
//   refill of 5000 rows, the repaint that follows) against its budget of 8 ms.
//
// The ratio table reads CPU time of the benchmark's thread, which does not see a child
// process. Every benchmark here therefore charges its thread, after the work, with the
// wall time the work took (by spinning on the thread's CPU clock until the two agree):
// all figures are the time the user waits. The command's own CPU time (user and system)
// is shown as a counter beside it.

#include "files/uHistoryScan.h"
#include "uBenchCommand.h"
#include "uBenchRatios.h"
#include "ui/uHistoryUI.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTreeView>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

constexpr int KListed = 5000, KUnlisted = 2000;
constexpr double KKeystrokeBudget = 0.008; // seconds

const char* const KScan = "ScanFolder 5000 of 7000 files";
const char* const KFind = "find -printf (command)";
const char* const KPortable = "ScanFolderPortable (QDirIterator)";
const char* const KKeystroke = "keystroke: filter + refill 5000 rows";
const char* const KBudget = "keystroke budget 8 ms";

bool GFailed = false;

struct TTree {
    QTemporaryDir Dir;
    QString Folder;
};

// 100 folders two levels down (month/group), each with 50 listed files of every kind the
// program writes and 20 other files; times spread over a year.
const TTree& Tree() {
    static TTree* tree = [] {
        auto* t = new TTree;
        t->Folder = t->Dir.path();
        const QDateTime start(QDate(2024, 1, 1), QTime(8, 0));
        int listed = 0, unlisted = 0;
        for (int folder = 0; folder < 100; ++folder) {
            const QString dir = t->Folder + QStringLiteral("/2024-%1/g%2")
                                                .arg(folder / 10 + 1, 2, 10, QChar(u'0'))
                                                .arg(folder % 10);
            QDir().mkpath(dir);
            QStringList names;
            for (int i = 0; i < KListed / 100; ++i, ++listed) {
                const QString stamp =
                    start.addSecs(listed * 3571).toString(QStringLiteral("yyyyMMdd_HHmmss"));
                const int patient = 10000 + listed % 7919;
                switch (listed % 5) {
                case 0:
                    names << QStringLiteral("pt%1_IMG_%2.jpg").arg(patient).arg(listed);
                    break;
                case 1:
                    names << QStringLiteral("%1_検査_%2.txt").arg(patient).arg(stamp);
                    break;
                case 2:
                    names << QStringLiteral("%1_処方_%2.txt").arg(patient).arg(stamp);
                    break;
                case 3:
                    names << QStringLiteral("OCR_検査_%1.txt").arg(stamp);
                    break;
                default:
                    names << QStringLiteral("pt%1_scan_%2.PDF").arg(patient).arg(listed);
                    break;
                }
            }
            for (int i = 0; i < KUnlisted / 100; ++i, ++unlisted) {
                static const char* const ext[] = {".docx", ".heic", ".xlsx", ".tmp"};
                names << QStringLiteral("other_%1%2")
                             .arg(unlisted)
                             .arg(QLatin1String(ext[unlisted % 4]));
            }
            for (qsizetype i = 0; i < names.size(); ++i) {
                QFile f(dir + u'/' + names[i]);
                const QDateTime written = start.addSecs(folder * 86400 + i * 1187);
                if (!f.open(QIODevice::WriteOnly) || f.write("0123456789", 10) != 10 ||
                    !f.setFileTime(written, QFileDevice::FileModificationTime)) {
                    std::fprintf(stderr, "cannot write %s\n", qPrintable(f.fileName()));
                    std::exit(1);
                }
            }
        }
        return t;
    }();
    return *tree;
}

// Runs AWork and charges the thread with the wall time it took beyond its own CPU time;
// returns that wall time.
template <typename F> double Waited(F&& AWork) {
    const double cpu0 = ThreadCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    AWork();
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ChargeThread(wall - (ThreadCpuSeconds() - cpu0));
    return wall;
}

void Fail(benchmark::State& AState, const char* AWhy) {
    GFailed = true;
    AState.SkipWithError(AWhy);
}

template <bool (*AScan)(const QString&, QList<TFileEntry>&, QString&, qsizetype*)>
void BmScan(benchmark::State& AState) {
    const QString& folder = Tree().Folder;
    QList<TFileEntry> entries;
    QString error;
    for (auto _ : AState) {
        bool ok = false;
        AState.SetIterationTime(Waited([&] { ok = AScan(folder, entries, error, nullptr); }));
        if (!ok || entries.size() != KListed) {
            Fail(AState, "the scan did not list the 5000 files");
            break;
        }
        benchmark::DoNotOptimize(entries.constData());
    }
}

void BmFind(benchmark::State& AState) {
    const std::vector<std::string> args = {
        "find",        QFile::encodeName(Tree().Folder).toStdString(), "-type", "f", "-printf",
        "%T@ %s %p\\n"};
    double cpu = 0;
    for (auto _ : AState) {
        const TCommandRun run = RunCommand(args);
        if (!run.Ok) {
            GFailed = true;
            AState.SkipWithError(run.Error.c_str());
            break;
        }
        ChargeThread(run.WallSeconds);
        AState.SetIterationTime(run.WallSeconds);
        cpu += run.CpuSeconds;
    }
    AState.counters["cmd CPU ms"] =
        benchmark::Counter(cpu * 1e3, benchmark::Counter::kAvgIterations);
}

// Typing "." into the empty box and taking it out again: each keystroke keeps all 5000
// rows, the most a refill can have.
void BmKeystroke(benchmark::State& AState) {
    THistoryForm form(nullptr, Tree().Folder);
    form.show();
    QApplication::processEvents();
    if (form.All().size() != KListed) {
        Fail(AState, "the window did not list the 5000 files");
        return;
    }
    const QString texts[2] = {QStringLiteral("."), QString()};
    int n = 0;
    for (auto _ : AState) {
        AState.SetIterationTime(Waited([&] {
            form.FEdtFind->setText(texts[n++ & 1]);
            QApplication::processEvents(); // the layout and repaint the keystroke causes
        }));
        if (form.FLV->model()->rowCount() != KListed) {
            Fail(AState, "the refill lost rows");
            break;
        }
    }
}

void BmBudget(benchmark::State& AState) {
    for (auto _ : AState) {
        ChargeThread(KKeystrokeBudget);
        AState.SetIterationTime(KKeystrokeBudget);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (QStandardPaths::findExecutable(QStringLiteral("find")).isEmpty()) {
        std::printf("find not found on the PATH; the reference cannot be measured\n");
        return 1;
    }
    std::printf("Input: %d listed and %d other files of 10 bytes in 100 folders two levels "
                "down, in %s\n",
                KListed, KUnlisted, qPrintable(Tree().Folder));
    Configure(benchmark::RegisterBenchmark(KScan, BmScan<HistoryScan::ScanFolder>))
        ->UseManualTime();
    Configure(benchmark::RegisterBenchmark(KFind, BmFind))->UseManualTime();
    Configure(benchmark::RegisterBenchmark(KPortable, BmScan<HistoryScan::ScanFolderPortable>))
        ->UseManualTime();
    Configure(benchmark::RegisterBenchmark(KKeystroke, BmKeystroke))->UseManualTime();
    Configure(benchmark::RegisterBenchmark(KBudget, BmBudget))->UseManualTime();
    const int rc = RunWithRatios(argc, argv, "Saved-file history",
                                 {
                                     {KScan, KFind, 1.5},
                                     {KPortable, KFind},
                                     {KKeystroke, KBudget, 1.0},
                                 });
    if (GFailed) {
        std::printf("a benchmark failed (see above)\n");
        return 1;
    }
    return rc;
}

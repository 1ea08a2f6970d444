// The trend window over 1000 lab tables of one patient among 20 000 files of a save folder
// (other patients' tables, prescriptions, pictures, texts, in 40 folders two levels down),
// made in a temporary folder:
// - reading the same 1000 files' bytes, their paths known (the reference);
// - LabTrend::Load: the walk of all 20 000, reading and parsing the patient's tables, the
//   table over time;
// - the real window on the offscreen platform, from its creation until the table is shown
//   and painted (goal: within 2 x the reference);
// - the longest the window thread was held while that happened (goal: 50 ms), measured by
//   a timer that fires every millisecond, so the window stays responsive while it reads.
//
// As in the history's benchmark, each benchmark charges its thread with the wall time the
// work took, so every figure is the time the user waits.

#include "files/uLabTable.h"
#include "files/uLabTrendLoader.h"
#include "files/uSavedFiles.h"
#include "uBenchCommand.h"
#include "uBenchRatios.h"
#include "ui/uTrendUI.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>

namespace {

constexpr int KFiles = 20000, KTables = 1000, KFolders = 40;
constexpr double KStallBudget = 0.050; // seconds

const char* const KRead = "read the 1000 tables' bytes";
const char* const KLoad = "LabTrend::Load: walk 20000, parse 1000";
const char* const KShow = "window: open until the table is shown";
const char* const KStall = "window thread's longest stall while loading";
const char* const KBudget = "stall budget 50 ms";

const QString Patient = QStringLiteral("12345");
bool GFailed = false;

struct TTree {
    QTemporaryDir Dir;
    QString Folder;
    QStringList Tables; // the patient's tables' paths
};

QByteArray TableBytes(int AVisit) {
    static const char* const names[] = {"AST", "ALT", "γ-GTP", "BS",   "HbA1c", "LDL",
                                        "HDL", "TG",  "Cr",    "eGFR", "UA",    "CRP"};
    static const char* const units[] = {"U/L",   "U/L",           "U/L",   "mg/dL",
                                        "%",     "mg/dL",         "mg/dL", "mg/dL",
                                        "mg/dL", "mL/min/1.73m2", "mg/dL", "mg/dL"};
    QList<TLabValue> values;
    for (int i = 0; i < 12; ++i) {
        QString value = QString::number(10 + (AVisit * 7 + i * 13) % 90) + QStringLiteral(".") +
                        QString::number(AVisit % 10);
        if ((AVisit + i) % 9 == 0)
            value += QStringLiteral(" H");
        if (i == 11 && AVisit % 5 == 0)
            value = QStringLiteral("<0.1");
        values.append({QString::fromUtf8(names[i]), value, QString::fromUtf8(units[i]), {}, {}});
    }
    const QDate date = QDate(2020, 1, 1).addDays(AVisit * 2);
    return SavedFiles::TextFileBytes(
        BuildLabTsv(values, date.toString(Qt::ISODate), QStringLiteral("さくら内科クリニック")));
}

// Made on first use, removed at the end of main.
std::unique_ptr<TTree> GTree;

const TTree& Tree() {
    if (GTree != nullptr)
        return *GTree;
    GTree = [] {
        auto t = std::make_unique<TTree>();
        t->Folder = t->Dir.path();
        const QDateTime start(QDate(2020, 1, 1), QTime(8, 0));
        const QByteArray other = TableBytes(3);
        int tables = 0;
        for (int n = 0; n < KFiles; ++n) {
            const int folder = n % KFolders;
            const QString dir =
                t->Folder + QStringLiteral("/%1/g%2").arg(2020 + folder / 10).arg(folder % 10);
            if (n < KFolders)
                QDir().mkpath(dir);
            const QString stamp =
                start.addSecs(qint64(n) * 1597).toString(QStringLiteral("yyyyMMdd_HHmmss"));
            QString name;
            QByteArray bytes = other;
            // Every 20th file is one of the patient's tables.
            if (n % (KFiles / KTables) == 0) {
                name = Patient + QStringLiteral("_検査_") + stamp + QStringLiteral(".txt");
                bytes = TableBytes(tables++);
            } else {
                const int patient = 20000 + n % 7919; // never 12345
                switch (n % 4) {
                case 0:
                    name = QStringLiteral("%1_検査_%2.txt").arg(patient).arg(stamp);
                    break;
                case 1:
                    name = QStringLiteral("%1_処方_%2.txt").arg(patient).arg(stamp);
                    break;
                case 2:
                    name = QStringLiteral("pt%1_IMG_%2.jpg").arg(patient).arg(n);
                    bytes = QByteArray(2000, 'j');
                    break;
                default:
                    name = QStringLiteral("%1_%2.txt").arg(patient).arg(stamp);
                    break;
                }
            }
            const QString path = dir + u'/' + name;
            QFile f(path);
            if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
                std::exit(1);
            }
            if (name.startsWith(Patient + u'_'))
                t->Tables << path;
        }
        return t;
    }();
    return *GTree;
}

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

void BmRead(benchmark::State& AState) {
    const QStringList& tables = Tree().Tables;
    for (auto _ : AState) {
        qint64 bytes = 0;
        AState.SetIterationTime(Waited([&] {
            for (const QString& path : tables) {
                QFile f(path);
                if (f.open(QIODevice::ReadOnly))
                    bytes += f.readAll().size();
            }
        }));
        if (bytes == 0) {
            Fail(AState, "nothing was read");
            break;
        }
        benchmark::DoNotOptimize(bytes);
    }
}

void BmLoad(benchmark::State& AState) {
    for (auto _ : AState) {
        TLabTrend trend;
        QString error;
        bool ok = false;
        AState.SetIterationTime(
            Waited([&] { ok = LabTrend::Load(Tree().Folder, Patient, {}, trend, error); }));
        if (!ok || trend.Reports.size() != KTables || !trend.Problems.isEmpty()) {
            Fail(AState, "the load did not read the 1000 tables");
            break;
        }
    }
}

// Opens the window and waits until the table is filled and painted; the longest gap
// between the millisecond timer's ticks meanwhile goes to AStall.
bool ShowOnce(double& AStall) {
    QElapsedTimer sinceTick;
    qint64 longest = 0;
    QTimer ticker;
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longest = std::max(longest, sinceTick.nsecsElapsed());
        sinceTick.restart();
    });
    bool ok = false;
    {
        sinceTick.start();
        ticker.start();
        TLabTrendForm form(nullptr, TLabTrendRequest{Tree().Folder, Patient, {}});
        form.show();
        QSignalSpy loaded(&form, &TLabTrendForm::Loaded);
        ok = loaded.wait(60000);
        QApplication::processEvents(); // the paint of the filled table
        longest = std::max(longest, sinceTick.nsecsElapsed());
        ticker.stop();
        ok = ok && form.FTable->model()->rowCount() == 12 &&
             form.FTable->model()->columnCount() == 2 + KTables;
    }
    AStall = double(longest) / 1e9;
    return ok;
}

void BmShow(benchmark::State& AState) {
    for (auto _ : AState) {
        bool ok = false;
        double stall = 0;
        AState.SetIterationTime(Waited([&] { ok = ShowOnce(stall); }));
        if (!ok) {
            Fail(AState, "the window did not show the 1000 reports");
            break;
        }
    }
}

void BmStall(benchmark::State& AState) {
    for (auto _ : AState) {
        double stall = 0;
        if (!ShowOnce(stall)) {
            Fail(AState, "the window did not show the 1000 reports");
            break;
        }
        ChargeThread(stall);
        AState.SetIterationTime(stall);
    }
}

void BmBudget(benchmark::State& AState) {
    for (auto _ : AState) {
        ChargeThread(KStallBudget);
        AState.SetIterationTime(KStallBudget);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::printf("Input: %d files in %d folders two levels down, %d of them lab tables of "
                "patient %s (12 tests each), in %s\n",
                KFiles, KFolders, KTables, qPrintable(Patient), qPrintable(Tree().Folder));
    Configure(benchmark::RegisterBenchmark(KRead, BmRead))->UseManualTime();
    Configure(benchmark::RegisterBenchmark(KLoad, BmLoad))->UseManualTime();
    Configure(benchmark::RegisterBenchmark(KShow, BmShow))->UseManualTime();
    Configure(benchmark::RegisterBenchmark(KStall, BmStall))->UseManualTime();
    Configure(benchmark::RegisterBenchmark(KBudget, BmBudget))->UseManualTime();
    const int rc = RunWithRatios(argc, argv, "Lab values over time",
                                 {
                                     {KLoad, KRead},
                                     {KShow, KRead, 2.0},
                                     {KStall, KBudget, 1.0},
                                 });
    GTree.reset();
    if (GFailed) {
        std::printf("a benchmark failed (see above)\n");
        return 1;
    }
    return rc == 0 ? 0 : 1; // a missed goal
}

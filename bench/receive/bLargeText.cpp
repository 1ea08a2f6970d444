// A huge text handed to the main window (200 MiB by default): the longest time the window
// thread does not answer, against the goal of 0.5 s, and against the time a plain write of
// the same bytes takes here; and how far the process's peak memory rises over the body,
// against the goal of staying under twice the body (so a rise below one body).
//   bench_large_text [MIB]
#include "uTestEnv.h"
#include "ui/fmMain.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSaveFile>
#include <QTimer>
#include <cstdio>
#include <sys/resource.h>

namespace {

double PeakMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

// Milliseconds a plain atomic write of ABytes takes: the reference.
qint64 PlainWriteMs(const QString& APath, const QByteArray& ABytes) {
    QElapsedTimer t;
    t.start();
    QSaveFile file(APath);
    if (!file.open(QIODevice::WriteOnly) || file.write(ABytes) != ABytes.size() || !file.commit())
        return -1;
    return t.elapsed();
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const TTestEnv env;
    const int mib = argc > 1 ? std::max(5, std::atoi(argv[1])) : 200;
    const QByteArray body = QByteArray("AST 24 U/L\n").repeated(qsizetype(mib) * 1048576 / 11);
    const QString folder = env.Root() + QStringLiteral("/save");
    const qint64 writeMs = PlainWriteMs(env.Root() + QStringLiteral("/reference.txt"), body);

    TFormMain form;
    form.Connection()->edtFolder->setText(folder);
    const double before = PeakMb();

    // The window thread's longest silence while the text is handed over and saved.
    QElapsedTimer sinceTick;
    qint64 longestStallMs = 0;
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout,
                     [&] { longestStallMs = std::max(longestStallMs, sinceTick.restart()); });
    ticks.start(10);
    sinceTick.start();
    QTimer::singleShot(50, [&] { form.AddReceivedText(QStringLiteral("huge.txt"), body); });
    QElapsedTimer wall;
    wall.start();
    while (form.Items().isEmpty() && wall.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ticks.stop();
    if (form.Items().isEmpty()) {
        std::printf("the text was not listed within 120 s\n");
        return 1;
    }
    const double rise = PeakMb() - before;
    const double bodyMb = body.size() / 1048576.0;
    std::printf("body %.0f MB, listed after %lld ms\n", bodyMb, wall.elapsed());
    std::printf("longest window stall %lld ms (goal 500 ms); plain write of the body %lld ms, "
                "ratio %.2f\n",
                longestStallMs, writeMs, writeMs > 0 ? double(longestStallMs) / writeMs : 0.0);
    std::printf("peak memory rise %.0f MB = %.2f x the body (goal < 1.00)\n", rise, rise / bodyMb);
    return longestStallMs <= 500 && rise < bodyMb ? 0 : 1;
}

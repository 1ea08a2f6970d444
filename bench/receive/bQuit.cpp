// Quitting while receiving: the real program, signed in and waiting in a long poll, is
// asked to end (SIGTERM, as a session that logs out). Measures the time until a new start
// would run as the first instance (the lock let go) and until the process is gone,
// against the goal of 1 s for both. The long poll is in flight each time.
//   bench_quit [RUNS]   (SCANLUME_LOCAL names the service, PICTOPORT_EXE the program)
#include "settings/uSettings.h"
#include "uLocalService.h"
#include "uTestEnv.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <algorithm>
#include <csignal>
#include <cstdio>

namespace {

bool WaitFor(const std::function<bool()>& ACondition, int AMs) {
    QElapsedTimer t;
    t.start();
    while (!ACondition()) {
        if (t.elapsed() > AMs)
            return false;
        QThread::msleep(1);
    }
    return true;
}

int PollsSeen(TLocalService& AService) {
    int n = 0;
    for (const TLocalService::TRecorded& r : AService.Requests())
        n += r.Path.endsWith("/poll") ? 1 : 0;
    return n;
}

} // namespace

int main(int argc, char** argv) {
    TTestEnv env;
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const QString program = qEnvironmentVariable("PICTOPORT_EXE");
    if (!QFile::exists(program)) {
        std::fprintf(stderr, "PICTOPORT_EXE must name the program\n");
        return 1;
    }
    TLocalService service;
    if (!service.Start()) {
        std::fprintf(stderr, "scanlume-local did not start\n");
        return 1;
    }
    TAppSettings settings;
    settings.Load();
    settings.ServerUrl = service.BaseUrl();
    settings.Email = QStringLiteral("demo@example.com");
    settings.Password = QStringLiteral("secret");
    settings.SaveFolder = env.Root() + QStringLiteral("/received");
    settings.AutoSave = true;
    settings.AutoConnect = true;
    settings.Save();

    const QString socketPath = env.RuntimeDir() + QStringLiteral("/ScanlumeReceiver_ShowMe_v1");
    QProcessEnvironment processEnv = QProcessEnvironment::systemEnvironment();
    processEnv.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    processEnv.insert(QStringLiteral("PICTOPORT_KEYRING"), QStringLiteral("off"));

    QList<double> released, ended;
    for (int i = 0; i < runs; ++i) {
        service.Reset();
        QProcess pictoport;
        pictoport.setProcessEnvironment(processEnv);
        pictoport.start(program, {});
        // Signed in and waiting: a poll has reached the service and is held there.
        if (!WaitFor([&] { return PollsSeen(service) > 0; }, 10000)) {
            std::fprintf(stderr, "run %d: no long poll reached the service\n", i + 1);
            return 1;
        }
        QThread::msleep(300);
        QElapsedTimer t;
        t.start();
        ::kill(static_cast<pid_t>(pictoport.processId()), SIGTERM);
        WaitFor([&] { return !QFile::exists(socketPath); }, 10000);
        released << t.nsecsElapsed() / 1e6;
        pictoport.waitForFinished(10000);
        ended << t.nsecsElapsed() / 1e6;
        if (pictoport.exitStatus() != QProcess::NormalExit || pictoport.exitCode() != 0) {
            std::fprintf(stderr, "run %d: the program did not end cleanly\n", i + 1);
            return 1;
        }
    }
    std::sort(released.begin(), released.end());
    std::sort(ended.begin(), ended.end());
    const double goalMs = 1000;
    const double worstReleased = released.back(), worstEnded = ended.back();
    std::printf("quit while receiving, %d runs (median / worst):\n", runs);
    std::printf("  lock let go   %6.0f / %6.0f ms  = %.2f x the goal of %.0f ms\n",
                released[runs / 2], worstReleased, worstReleased / goalMs, goalMs);
    std::printf("  process gone  %6.0f / %6.0f ms  = %.2f x the goal of %.0f ms\n", ended[runs / 2],
                worstEnded, worstEnded / goalMs, goalMs);
    return worstReleased <= goalMs && worstEnded <= goalMs ? 0 : 1;
}

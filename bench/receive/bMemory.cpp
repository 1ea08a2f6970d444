// Resident memory of the main window that receives photos all day: after 10 and after
// 500 received 4 MB phone photos (saved automatically, each shown on arrival), against
// the goal that the second stays within 1.5 x the first.
//   bench_memory [ITEMS]   (SCANLUME_LOCAL names the service program)
#include "uJpegFixture.h"
#include "uLocalService.h"
#include "uTestEnv.h"
#include "ui/fmMain.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <atomic>
#include <cstdio>
#include <thread>
#include <unistd.h>

namespace {

void PrintStatus(const char* AWhen) {
    if (!qEnvironmentVariableIsSet("BENCH_MEMORY_DETAIL"))
        return;
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("Rss") || line.startsWith("VmData"))
            std::printf("%s %s\n", AWhen, line.simplified().constData());
    }
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (maps.open(QIODevice::ReadOnly)) {
        int n = 0;
        qulonglong big = 0;
        for (const QByteArray& line : maps.readAll().split('\n')) {
            const QList<QByteArray> f = line.simplified().split(' ');
            if (f.size() < 5)
                continue;
            const QList<QByteArray> range = f[0].split('-');
            const qulonglong size =
                range[1].toULongLong(nullptr, 16) - range[0].toULongLong(nullptr, 16);
            ++n;
            if (f.size() == 6 && f[5] == "[heap]")
                std::printf("%s heap %.1f MB\n", AWhen, size / 1048576.0);
            if (f.size() == 5 && size > (8u << 20)) {
                big += size;
                std::printf("%s anon %s %.1f MB\n", AWhen, f[1].constData(), size / 1048576.0);
            }
        }
        std::printf("%s %d mappings, anonymous over 8 MB: %.0f MB\n", AWhen, n, big / 1048576.0);
    }
}

double ResidentMb() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * double(sysconf(_SC_PAGESIZE)) / (1024 * 1024)
                             : 0;
}

bool WaitForItems(const TFormMain& AForm, int ACount, int ATimeoutMs, std::atomic<int>& AReceived) {
    QElapsedTimer t;
    t.start();
    while (AForm.Items().size() < ACount && t.elapsed() < ATimeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        AReceived = int(AForm.Items().size());
    }
    // Let the last arrival be shown and anything deferred run.
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return AForm.Items().size() >= ACount;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int items = argc > 1 ? std::max(20, atoi(argv[1])) : 500;
    TTestEnv env;
    TLocalService service;
    if (!service.Start()) {
        std::fprintf(stderr, "scanlume-local did not start (SCANLUME_LOCAL)\n");
        return 1;
    }
    // A 12-megapixel phone photo with fine detail: about 4 MB.
    const QByteArray photo = MakeJpeg(4032, 3024, TJpegExif{true, 6}, 90, true);

    TFormMain form;
    TPollTimings timings;
    timings.WaitSeconds = 1;
    form.SetPollTimings(timings);
    form.Connection()->edtUrl->setText(service.BaseUrl());
    form.Connection()->edtEmail->setText(QStringLiteral("demo@example.com"));
    form.Connection()->edtPassword->setText(QStringLiteral("secret"));
    form.Connection()->edtFolder->setText(env.Root() + QStringLiteral("/received"));
    form.Connection()->chkAutoSave->setChecked(true);
    form.Connection()->btnConnect->click();

    // One photo after the other, as a phone sends them: each once the last has arrived,
    // so that what is measured is what the window keeps, not a backlog in transit.
    std::atomic<bool> sending{true};
    std::atomic<int> received{0};
    std::thread phone([&] {
        for (int i = 0; i < items && sending; ++i) {
            while (received < i && sending)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            service.SendFile(QStringLiteral("demo@example.com:secret"),
                             QStringLiteral("IMG_%1.jpg").arg(i), "image/jpeg", photo);
        }
    });
    const double start = ResidentMb();
    const bool ten = WaitForItems(form, 10, 120000, received);
    const double after10 = ResidentMb();
    PrintStatus("after 10:");
    const bool all = ten && WaitForItems(form, items, 3600000, received);
    const double afterAll = ResidentMb();
    PrintStatus("after all:");
    sending = false;
    phone.join();
    form.StopReceiving();

    std::printf("Photo: %.2f MB, 4032 x 3024, orientation 6; %d sent\n", photo.size() / 1e6, items);
    std::printf(
        "Resident memory: at start %.0f MB, after 10 photos %.0f MB, after %d photos %.0f MB\n",
        start, after10, int(form.Items().size()), afterAll);
    if (!all) {
        std::printf("Only %d of %d photos arrived\n", int(form.Items().size()), items);
        return 1;
    }
    const double ratio = afterAll / after10;
    std::printf("after %d / after 10: %.2f  goal <= 1.50: %s\n", items, ratio,
                ratio <= 1.5 ? "met" : "MISSED");
    return ratio <= 1.5 ? 0 : 1;
}

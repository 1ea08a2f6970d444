// The fault soak: the real window receives and auto-saves from a real scanlume-local
// while the service misbehaves between the items: connections dropped mid-body, 500s,
// storms of refused tokens, an answer later than the time-out, trickled and gzip bodies.
//   pictoport-soak [--items N]       (default 2000)
// It passes when every item the service delivered whole is saved exactly once with its
// bytes, nothing cut short is saved, the worker never stalls for a minute, and the
// request rate stays bounded. It prints the counts either way.
#include "uJpegFixture.h"
#include "uLocalService.h"
#include "uTestEnv.h"
#include "ui/fmMain.h"
#include "worker/uPollThread.h"

#include <QApplication>
#include <QCheckBox>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <cstdio>

namespace {

const QString User = QStringLiteral("demo@example.com:secret");
const QString PollPath = QStringLiteral("/api/image-transfer/native/poll");

void Print(const QString& AText) {
    std::fputs((AText + u'\n').toUtf8().constData(), stdout);
    std::fflush(stdout);
}

// Every item differs: the index rides after the end-of-image marker.
QByteArray ItemBytes(const QByteArray& AJpeg, const QString& ATag) {
    return AJpeg + ATag.toLatin1();
}

struct TFaults {
    int Dropped = 0, ServerErrors = 0, Refusals = 0, Late = 0, Trickled = 0, Gzipped = 0;
};

// What the service hands out whole through a script: a name and its bytes.
TLocalService::TScript ItemScript(const QString& AName, const QByteArray& ABytes) {
    TLocalService::TScript s;
    s.Path = PollPath;
    s.Status = 200;
    s.Headers = {{"Content-Type", "image/jpeg"}, {"X-Image-Filename", AName.toUtf8()}};
    s.Body = ABytes;
    return s;
}

// The savings folder's files by name, with their bytes.
QHash<QString, QByteArray> SavedFiles(const QString& AFolder) {
    QHash<QString, QByteArray> files;
    QDirIterator it(AFolder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        QFile file(it.filePath());
        if (file.open(QIODevice::ReadOnly))
            files.insert(it.fileName(), file.readAll());
    }
    return files;
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("PICTOPORT_KEYRING", "off");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const qsizetype itemsAt = args.indexOf(QStringLiteral("--items"));
    const int items = itemsAt > 0 && itemsAt + 1 < args.size() ? args[itemsAt + 1].toInt() : 2000;

    TTestEnv env;
    TLocalService service;
    if (!service.Start()) {
        Print(QStringLiteral("soak: scanlume-local did not start (set SCANLUME_LOCAL)"));
        return 2;
    }
    const QString folder = env.Root() + QStringLiteral("/save");
    TFormMain form;
    TPollTimings timings;
    timings.WaitSeconds = 1;
    timings.ErrorRetryMs = 200;
    timings.SignInRetryMs = 2000;
    timings.BackoffFirstMs = 100;
    form.SetPollTimings(timings);
    form.Connection()->edtUrl->setText(service.BaseUrl());
    form.Connection()->edtEmail->setText(QStringLiteral("demo@example.com"));
    form.Connection()->edtPassword->setText(QStringLiteral("secret"));
    form.Connection()->edtFolder->setText(folder);
    form.Connection()->chkAutoSave->setChecked(true);
    form.Connection()->btnConnect->click();

    const QByteArray jpeg = MakeJpeg(24, 16);
    QHash<QString, QByteArray> expected; // delivered whole: saved once, bytes unchanged
    QStringList cut;                     // delivered cut short: never saved
    TFaults faults;
    QElapsedTimer clock;
    clock.start();
    constexpr int BatchSize = 20;
    for (int i = 0; i < items; ++i) {
        const QString name = QStringLiteral("soak_%1.jpg").arg(i, 5, 10, QLatin1Char('0'));
        const QByteArray bytes = ItemBytes(jpeg, name);
        // The service holds at most 1000 waiting items: keep a few hundred in flight.
        QElapsedTimer waited;
        waited.start();
        while (i - form.Items().size() > 400 && waited.elapsed() < 60000)
            QTest::qWait(20);
        if (service.SendFile(User, name, "image/jpeg", bytes) != 202) {
            Print(QStringLiteral("soak: the service refused item %1").arg(name));
            return 1;
        }
        expected.insert(name, bytes);
        if (i % BatchSize != BatchSize - 1)
            continue;
        // One fault between batches, in turn; scripts answer before the real items.
        const int batch = i / BatchSize;
        switch (batch % 6) {
        case 0: {
            const QString dropped = QStringLiteral("dropped_%1.jpg").arg(batch);
            TLocalService::TScript s = ItemScript(dropped, ItemBytes(jpeg, dropped));
            s.Drop = true;
            service.Script(s);
            cut << dropped;
            ++faults.Dropped;
            break;
        }
        case 1: {
            TLocalService::TScript s;
            s.Path = PollPath;
            s.Status = 500;
            service.Script(s);
            ++faults.ServerErrors;
            break;
        }
        case 2:
            for (int k = 0; k < 5; ++k) {
                TLocalService::TScript s;
                s.Path = PollPath;
                s.Status = 401;
                service.Script(s);
                ++faults.Refusals;
            }
            break;
        case 3: {
            const QString gz = QStringLiteral("gzip_%1.jpg").arg(batch);
            TLocalService::TScript s = ItemScript(gz, ItemBytes(jpeg, gz));
            s.ContentEncoding = "gzip";
            service.Script(s);
            expected.insert(gz, s.Body);
            ++faults.Gzipped;
            break;
        }
        case 4: {
            const QString slow = QStringLiteral("trickled_%1.jpg").arg(batch);
            TLocalService::TScript s = ItemScript(slow, ItemBytes(jpeg, slow));
            s.TrickleMs = 1;
            service.Script(s);
            expected.insert(slow, s.Body);
            ++faults.Trickled;
            break;
        }
        case 5:
            // Once: an answer later than the poll's time-out (its wait plus 20 s).
            if (faults.Late == 0) {
                TLocalService::TScript s;
                s.Path = PollPath;
                s.Status = 204;
                s.DelayMs = 22000;
                service.Script(s);
                ++faults.Late;
            }
            break;
        }
        QCoreApplication::processEvents();
    }
    Print(QStringLiteral("soak: %1 items sent in %2 s, faults: %3 dropped mid-body, %4 server "
                         "errors, %5 refused tokens, %6 late answer, %7 trickled, %8 gzip")
              .arg(items)
              .arg(clock.elapsed() / 1000.0, 0, 'f', 1)
              .arg(faults.Dropped)
              .arg(faults.ServerErrors)
              .arg(faults.Refusals)
              .arg(faults.Late)
              .arg(faults.Trickled)
              .arg(faults.Gzipped));

    // Until everything is saved, or nothing new lands for a minute.
    QHash<QString, QByteArray> saved;
    QElapsedTimer sinceProgress;
    sinceProgress.start();
    qsizetype lastCount = -1;
    while (saved.size() < expected.size() + cut.size()) {
        QTest::qWait(250);
        saved = SavedFiles(folder);
        if (saved.size() != lastCount) {
            lastCount = saved.size();
            sinceProgress.restart();
        } else if (sinceProgress.elapsed() > 60000) {
            break;
        }
        if (saved.size() >= expected.size() && form.Items().size() >= expected.size()) {
            QTest::qWait(2000); // anything more would be a duplicate or a cut item
            saved = SavedFiles(folder);
            break;
        }
    }
    const double seconds = clock.elapsed() / 1000.0;
    form.StopReceiving();

    int missing = 0, wrongBytes = 0, savedCut = 0, extra = 0;
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        if (!saved.contains(it.key()))
            ++missing;
        else if (saved.value(it.key()) != it.value())
            ++wrongBytes;
    }
    for (const QString& name : cut)
        savedCut += saved.contains(name) ? 1 : 0;
    for (auto it = saved.cbegin(); it != saved.cend(); ++it)
        extra += expected.contains(it.key()) || cut.contains(it.key()) ? 0 : 1;

    const QList<TLocalService::TRecorded> requests = service.Requests();
    int polls = 0, logins = 0;
    for (const auto& r : requests) {
        polls += r.Path == PollPath.toLatin1() ? 1 : 0;
        // The sender here signs in for every item it sends.
        logins += r.Path == "/api/auth/login" ? 1 : 0;
        logins -= r.Path == "/api/image-transfer/send" ? 1 : 0;
    }
    // One poll per item and per scripted answer, plus the empty polls of a healthy
    // service (about one per second) and the retries after each fault.
    const int scripted = faults.Dropped + faults.ServerErrors + faults.Refusals + faults.Late +
                         faults.Trickled + faults.Gzipped;
    const int pollBound = int(expected.size()) + scripted + int(seconds) * 2 + 50;
    Print(QStringLiteral("soak: %1 s; %2 of %3 whole items saved, %4 missing, %5 with other "
                         "bytes, %6 duplicates or strays, %7 cut items saved; %8 polls (bound "
                         "%9, %10 per second), %11 sign-ins")
              .arg(seconds, 0, 'f', 1)
              .arg(expected.size() - missing)
              .arg(expected.size())
              .arg(missing)
              .arg(wrongBytes)
              .arg(extra)
              .arg(savedCut)
              .arg(polls)
              .arg(pollBound)
              .arg(polls / seconds, 0, 'f', 1)
              .arg(logins));
    const bool ok = missing == 0 && wrongBytes == 0 && extra == 0 && savedCut == 0 &&
                    polls <= pollBound && logins <= faults.Refusals + 5;
    Print(ok ? QStringLiteral("soak: passed") : QStringLiteral("soak: FAILED"));
    return ok ? 0 : 1;
}

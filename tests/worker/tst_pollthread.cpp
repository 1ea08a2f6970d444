// The receiving worker against a real scanlume-local: sign-in, long poll, pauses,
// hand-over to this thread, and the owner's stop sequence.
#include "worker/uPollThread.h"

#include "uLocalService.h"

#include <QElapsedTimer>
#include <QMap>
#include <QRandomGenerator>
#include <QThreadPool>
#include <QtTest>
#include <atomic>
#include <thread>

namespace {

struct TRecord {
    QStringList Statuses;
    QList<bool> Connected;
    QList<QPair<QString, QByteArray>> Images;
    QStringList ImageTypes;
    QList<QPair<QString, QByteArray>> Texts;
};

TPollTimings FastTimings() {
    TPollTimings t;
    t.SignInRetryMs = 30000; // long on purpose: tests end these pauses with a stop
    t.ErrorRetryMs = 600;
    t.WaitSeconds = 1;
    return t;
}

int Count(const QList<TLocalService::TRecorded>& ARequests, const QByteArray& APath) {
    int n = 0;
    for (const auto& r : ARequests)
        n += r.Path == APath ? 1 : 0;
    return n;
}

const QByteArray LoginPath = "/api/auth/login";
const QByteArray PollPath = "/api/image-transfer/native/poll";
const QByteArray StopPath = "/api/image-transfer/native/stop";

} // namespace

class TestPollThread : public QObject {
    Q_OBJECT
    TLocalService FService;

    TPollThread* Start(TRecord& ARecord, const QString& AUser, const QString& APassword,
                       const TPollTimings& ATimings = FastTimings()) {
        return TPollThread::Create(
            FService.BaseUrl(), AUser, APassword,
            [&ARecord](const QString& AName, const QString& AType, const QByteArray& AData) {
                ARecord.Images.append({AName, AData});
                ARecord.ImageTypes.append(AType);
            },
            [&ARecord](const QString& AName, const QByteArray& AData) {
                ARecord.Texts.append({AName, AData});
            },
            [&ARecord](const QString& AMessage, bool AConnected) {
                ARecord.Statuses.append(AMessage);
                ARecord.Connected.append(AConnected);
            },
            ATimings);
    }

    // Stops a worker as the owner does and waits until it has ended.
    static void StopAndWait(TPollThread* AWorker) {
        bool ended = false;
        QObject::connect(AWorker, &QThread::finished, [&ended] { ended = true; });
        AWorker->Stop();
        QTRY_VERIFY_WITH_TIMEOUT(ended, 10000);
    }

private Q_SLOTS:
    void initTestCase() {
        TLocalService::TOptions options;
        for (int i = 1; i <= 10; ++i)
            options.Users << QStringLiteral("u%1@example.com:pw").arg(i);
        QVERIFY(FService.Start(options));
    }
    void init() {
        // A stop call still on its way from an earlier test must not count in this one.
        QThreadPool::globalInstance()->waitForDone(10000);
        FService.Reset();
    }

    void wrongPasswordPausesAndStopsQuickly() {
        TRecord rec;
        TPollThread* w = Start(rec, QStringLiteral("u1@example.com"), QStringLiteral("wrong"));
        QTRY_COMPARE(rec.Statuses.size(), 2);
        QCOMPARE(rec.Statuses[0], QStringLiteral("ログイン中..."));
        QVERIFY(rec.Statuses[1].startsWith(QStringLiteral("ログイン失敗: ")));
        QVERIFY(rec.Statuses[1].endsWith(QStringLiteral("（30秒後に再試行します）")));
        QVERIFY(rec.Statuses[1].size() >
                QStringLiteral("ログイン失敗: （30秒後に再試行します）").size());
        QCOMPARE(rec.Connected, QList<bool>({false, false}));
        QTest::qWait(1000);
        QCOMPARE(FService.Requests().size(), 1); // no request during the pause
        bool ended = false;
        connect(w, &QThread::finished, this, [&ended] { ended = true; });
        QElapsedTimer t;
        t.start();
        w->Stop();
        QTRY_VERIFY_WITH_TIMEOUT(ended, 5000);
        qInfo("ended %lld ms after the stop", t.elapsed());
        QVERIFY(t.elapsed() < 1000);
        // The failed sign-in left no token, so no stop call went out.
        QCOMPARE(Count(FService.Requests(), StopPath), 0);
    }

    void receivesImagesAndTexts() {
        TRecord rec;
        TPollThread* w = Start(rec, QStringLiteral("u2@example.com"), QStringLiteral("pw"));
        QTRY_VERIFY(
            rec.Statuses.contains(QStringLiteral("受信中（スマートフォンから送信できます）")));
        QCOMPARE(rec.Connected.last(), true);
        const QString user = QStringLiteral("u2@example.com:pw");
        QCOMPARE(
            FService.SendFile(user, QStringLiteral("レントゲン 1.png"), "image/png", "PNGDATA"),
            202);
        QCOMPARE(FService.SendFile(user, QStringLiteral("empty.jpg"), "image/jpeg", QByteArray()),
                 202);
        QCOMPARE(FService.SendText(user, QStringLiteral("テキスト\r\n二行目")), 202);
        QCOMPARE(FService.SendText(user, QStringLiteral("memo"), QStringLiteral("メモ.txt")), 202);
        QTRY_COMPARE(rec.Images.size() + rec.Texts.size(), 4);
        QCOMPARE(rec.Images[0].first, QStringLiteral("レントゲン 1.png"));
        QCOMPARE(rec.Images[0].second, QByteArray("PNGDATA"));
        QCOMPARE(rec.ImageTypes[0], QStringLiteral("image/png"));
        QCOMPARE(rec.Images[1].first, QStringLiteral("empty.jpg"));
        QVERIFY(rec.Images[1].second.isEmpty());
        QCOMPARE(rec.Texts[0].first, QStringLiteral("result.txt"));
        QCOMPARE(rec.Texts[0].second, QStringLiteral("テキスト\r\n二行目").toUtf8());
        QCOMPARE(rec.Texts[1].first, QStringLiteral("メモ.txt"));
        StopAndWait(w);
        QVERIFY(QThreadPool::globalInstance()->waitForDone(10000));
        QCOMPARE(Count(FService.Requests(), StopPath), 1); // told once, not twice
    }

    // An expired token is replaced at once; a service that refuses every new token, or
    // answers "nothing" without waiting, gets pauses that double instead of a flood.
    void refusedTokenSignsInAtOnce() {
        TLocalService::TScript s;
        s.Path = QString::fromLatin1(PollPath);
        s.Status = 401;
        FService.Script(s);
        QElapsedTimer t;
        t.start();
        TRecord rec;
        TPollThread* w = Start(rec, QStringLiteral("u3@example.com"), QStringLiteral("pw"));
        QTRY_COMPARE(Count(FService.Requests(), LoginPath), 2);
        QVERIFY2(t.elapsed() < 2000, "no pause after one refused token");
        QTRY_COMPARE(Count(FService.Requests(), PollPath), 2);
        // The statuses come as queued calls and may trail the requests the service saw.
        QTRY_COMPARE(rec.Statuses.count(QStringLiteral("ログイン中...")), 2);
        QVERIFY(!rec.Statuses.join(u'|').contains(QStringLiteral("通信エラー")));
        StopAndWait(w);
    }

    void misbehavingServiceIsNotFlooded_data() {
        QTest::addColumn<int>("status");
        QTest::newRow("every new token refused") << 401;
        QTest::newRow("empty answers without waiting") << 204;
    }
    void misbehavingServiceIsNotFlooded() {
        QFETCH(int, status);
        for (int i = 0; i < 40; ++i) {
            TLocalService::TScript s;
            s.Path = QString::fromLatin1(PollPath);
            s.Status = status;
            FService.Script(s);
        }
        TPollTimings timings = FastTimings();
        timings.BackoffFirstMs = 200;
        TRecord rec;
        TPollThread* w =
            Start(rec, QStringLiteral("u3@example.com"), QStringLiteral("pw"), timings);
        // Pauses of 0.2, 0.4, 0.8 s: a handful of polls in 1.5 s, where a flood takes
        // all 40 scripted answers at once.
        QTest::qWait(1500);
        const int polls = Count(FService.Requests(), PollPath);
        QVERIFY2(polls >= 2 && polls <= 8, qPrintable(QStringLiteral("%1 polls").arg(polls)));
        StopAndWait(w);
    }

    void serverErrorPausesThenPollsAgain() {
        TLocalService::TScript s;
        s.Path = QString::fromLatin1(PollPath);
        s.Status = 500;
        FService.Script(s);
        TRecord rec;
        TPollThread* w = Start(rec, QStringLiteral("u4@example.com"), QStringLiteral("pw"));
        const QString expected =
            QStringLiteral("通信エラー: 受信エラー: HTTP 500（5秒後に再接続します）");
        QTRY_VERIFY(rec.Statuses.contains(expected));
        QCOMPARE(rec.Connected.at(rec.Statuses.indexOf(expected)), false);
        QTRY_COMPARE(Count(FService.Requests(), PollPath), 2);
        QCOMPARE(Count(FService.Requests(), LoginPath), 1);
        StopAndWait(w);
    }

    void networkFailureDuringSignIn() {
        TLocalService::TScript s;
        s.Path = QString::fromLatin1(LoginPath);
        s.Drop = true;
        FService.Script(s);
        TRecord rec;
        QElapsedTimer t;
        t.start();
        TPollThread* w = Start(rec, QStringLiteral("u5@example.com"), QStringLiteral("pw"));
        QTRY_VERIFY(rec.Statuses.size() >= 2);
        QVERIFY(rec.Statuses[1].startsWith(QStringLiteral("通信エラー: ")));
        QVERIFY(rec.Statuses[1].endsWith(QStringLiteral("（5秒後に再接続します）")));
        QTRY_VERIFY(
            rec.Statuses.contains(QStringLiteral("受信中（スマートフォンから送信できます）")));
        QVERIFY(t.elapsed() >= FastTimings().ErrorRetryMs);
        QCOMPARE(Count(FService.Requests(), LoginPath), 2);
        StopAndWait(w);
    }

    // An owner that goes away detaches its worker: nothing reaches it any more, and the
    // worker gives up its poll at once instead of taking an item nobody could keep, so
    // the item waits for the next receiver.
    void detachedWorkerLeavesItemsWithTheService() {
        TRecord rec;
        TPollThread* w = Start(rec, QStringLiteral("u6@example.com"), QStringLiteral("pw"));
        QTRY_VERIFY(rec.Connected.contains(true));
        QTRY_VERIFY(Count(FService.Requests(), PollPath) >= 1);
        bool ended = false;
        connect(w, &QThread::finished, this, [&ended] { ended = true; });
        w->DetachEvents();
        const int statuses = rec.Statuses.size();
        QTRY_VERIFY_WITH_TIMEOUT(ended, 5000);
        QCOMPARE(FService.SendFile(QStringLiteral("u6@example.com:pw"), QStringLiteral("late.jpg"),
                                   "image/jpeg", "x"),
                 202);
        TRecord next;
        TPollThread* w2 = Start(next, QStringLiteral("u6@example.com"), QStringLiteral("pw"));
        QTRY_COMPARE(next.Images.size(), 1);
        QCOMPARE(next.Images[0].first, QStringLiteral("late.jpg"));
        QVERIFY(rec.Images.isEmpty());
        QCOMPARE(rec.Statuses.size(), statuses);
        StopAndWait(w2);
    }

    // Workers started and stopped while texts flow: once Stop() has returned no status of
    // that worker reaches its owner, and every text the phone sent arrives exactly once,
    // whichever worker took it: a stop neither loses an item nor lets two polls race.
    void stopRaceStress() {
        const QString user = QStringLiteral("u7@example.com:pw");
        std::atomic<bool> sending{true};
        std::atomic<int> sent{0};
        std::thread phone([&] {
            for (int n = 0; sending; ++n) {
                if (FService.SendText(user, QStringLiteral("flow %1").arg(n)) == 202)
                    sent = n + 1;
                else
                    --n;
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
        int violations = 0;
        QMap<QString, int> seen;
        const auto onText = [&seen](const QString&, const QByteArray& AData) {
            ++seen[QString::fromUtf8(AData)];
        };
        TPollTimings timings = FastTimings();
        timings.WaitSeconds = 0;
        for (int round = 0; round < 40; ++round) {
            auto stopped = std::make_shared<bool>(false);
            auto onStatus = [stopped, &violations](const QString&, bool) {
                if (*stopped)
                    ++violations;
            };
            TPollThread* w =
                TPollThread::Create(FService.BaseUrl(), QStringLiteral("u7@example.com"),
                                    QStringLiteral("pw"), nullptr, onText, onStatus, timings);
            QTest::qWait(QRandomGenerator::global()->bounded(5, 60));
            w->Stop();
            *stopped = true;
            QTest::qWait(QRandomGenerator::global()->bounded(0, 20));
        }
        sending = false;
        phone.join();
        QTRY_COMPARE_WITH_TIMEOUT(TPollThread::LiveCount(), 0, 20000);
        // Whatever the stopped workers left on the service, a last worker collects.
        TPollThread* last =
            TPollThread::Create(FService.BaseUrl(), QStringLiteral("u7@example.com"),
                                QStringLiteral("pw"), nullptr, onText, nullptr, timings);
        QTRY_VERIFY_WITH_TIMEOUT(seen.size() >= sent.load(), 20000);
        StopAndWait(last);
        qInfo("%d texts sent and received", sent.load());
        QCOMPARE(violations, 0);
        for (int n = 0; n < sent; ++n)
            QVERIFY2(seen.value(QStringLiteral("flow %1").arg(n)) == 1,
                     qPrintable(QStringLiteral("flow %1").arg(n)));
    }

    // A stop ends a waiting poll at once; what the phone sends afterwards stays on the
    // service for the next start.
    void stopCutsTheWaitingPoll() {
        TRecord rec;
        TPollTimings timings = FastTimings();
        timings.WaitSeconds = 30;
        TPollThread* w =
            Start(rec, QStringLiteral("u10@example.com"), QStringLiteral("pw"), timings);
        QTRY_VERIFY(rec.Connected.contains(true));
        QTest::qWait(300); // the long poll is outstanding
        QElapsedTimer t;
        t.start();
        StopAndWait(w);
        QVERIFY2(t.elapsed() < 5000, "the stop did not wait for the poll's 30 s");
        QCOMPARE(FService.SendFile(QStringLiteral("u10@example.com:pw"),
                                   QStringLiteral("later.jpg"), "image/jpeg", "JPEG"),
                 202);
        QTest::qWait(300);
        QVERIFY(rec.Images.isEmpty());
        TRecord next;
        TPollThread* again = Start(next, QStringLiteral("u10@example.com"), QStringLiteral("pw"));
        QTRY_COMPARE(next.Images.size(), 1);
        QCOMPARE(next.Images[0].first, QStringLiteral("later.jpg"));
        StopAndWait(again);
    }

    // A worker that has already ended when its owner stops it still frees itself: the
    // owner's dropping of queued calls must not drop the worker's own deletion.
    void endedWorkerStillFreesItself() {
        TRecord rec;
        TPollThread* w = Start(rec, QStringLiteral("u9@example.com"), QStringLiteral("pw"));
        QTRY_VERIFY(rec.Connected.contains(true));
        const int before = TPollThread::LiveCount();
        w->requestInterruption();
        QVERIFY(w->wait(30000)); // ended, its deletion queued
        w->Stop();
        QTRY_COMPARE(TPollThread::LiveCount(), before - 1);
    }

    void shutdownAllCutsPollsShort() {
        TRecord rec;
        TPollTimings timings = FastTimings();
        timings.WaitSeconds = 30;
        Start(rec, QStringLiteral("u8@example.com"), QStringLiteral("pw"), timings);
        QTRY_VERIFY(rec.Connected.contains(true));
        QTest::qWait(200); // the long poll is now outstanding
        QElapsedTimer t;
        t.start();
        QVERIFY(TPollThread::ShutdownAll(5000));
        QVERIFY(t.elapsed() < 3000);
        QVERIFY(QThreadPool::globalInstance()->waitForDone(
            10000)); // the stop call is made from the pool
        QCOMPARE(Count(FService.Requests(), StopPath), 1);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

QTEST_GUILESS_MAIN(TestPollThread)
#include "tst_pollthread.moc"

// One instance per user session, with real processes: this test holds the instance
// itself, or starts pictoport, and starts further copies of pictoport against it.
#include "platform/uSingleInstance.h"

#include "uTestEnv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <csignal>

namespace {
QString Program() {
    return qEnvironmentVariable("PICTOPORT_EXE");
}

std::unique_ptr<QProcess> StartPictoport(const QProcessEnvironment& AEnv) {
    auto p = std::make_unique<QProcess>();
    p->setProcessEnvironment(AEnv);
    p->setProgram(Program());
    p->start();
    return p;
}

QProcessEnvironment Env() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return env;
}

bool WaitFor(const std::function<bool()>& ACondition, int AMs = 10000) {
    QElapsedTimer t;
    t.start();
    while (!ACondition()) {
        if (t.elapsed() > AMs)
            return false;
        QTest::qWait(20);
    }
    return true;
}
} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT
    std::unique_ptr<TTestEnv> FEnv;

    QString SocketPath() const {
        return FEnv->RuntimeDir() + QStringLiteral("/ScanlumeReceiver_ShowMe_v1");
    }

private Q_SLOTS:
    void init() {
        QVERIFY2(QFile::exists(Program()), "PICTOPORT_EXE must name the program");
        FEnv = std::make_unique<TTestEnv>();
    }

    void secondStartExitsAndShowsFirst() {
        TSingleInstance first;
        QCOMPARE(first.Claim(), TSingleInstance::TRole::First);
        first.Listen();
        QSignalSpy spy(&first, &TSingleInstance::ShowMeRequested);

        QElapsedTimer t;
        t.start();
        auto second = StartPictoport(Env());
        QVERIFY(second->waitForFinished(10000));
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        qInfo("second start ended after %lld ms", t.elapsed());
        QVERIFY(spy.wait(5000) || spy.count() > 0);

        // Every later start repeats the request.
        auto third = StartPictoport(Env());
        QVERIFY(third->waitForFinished(10000));
        QCOMPARE(third->exitCode(), 0);
        QVERIFY(WaitFor([&] { return spy.count() >= 2; }));
    }

    // An instance that is ending lets go first: a start in that moment runs as the first
    // one instead of asking the ending one to come forward and exiting.
    void releasedInstanceLetsTheNextStartRun() {
        TSingleInstance ending;
        QCOMPARE(ending.Claim(), TSingleInstance::TRole::First);
        ending.Listen();
        ending.Release();
        QVERIFY(!QFile::exists(SocketPath()));
        auto next = StartPictoport(Env());
        QVERIFY(next->waitForStarted());
        QVERIFY(WaitFor([&] { return QFile::exists(SocketPath()); }));
        QCOMPARE(next->state(), QProcess::Running);
        TSingleInstance after;
        QCOMPARE(after.Claim(), TSingleInstance::TRole::Second);
        next->kill();
        next->waitForFinished();
    }

    void realFirstInstanceKeepsRunning() {
        auto first = StartPictoport(Env());
        QVERIFY(first->waitForStarted());
        QVERIFY(WaitFor([&] { return QFile::exists(SocketPath()); }));
        auto second = StartPictoport(Env());
        QVERIFY(second->waitForFinished(10000));
        QCOMPARE(second->exitCode(), 0);
        QCOMPARE(first->state(), QProcess::Running);
        first->kill();
        first->waitForFinished();
    }

    // A session that logs out sends SIGTERM (SIGHUP from a closed terminal, SIGINT from
    // Ctrl+C): each ends the program as closing the window does, settings saved and the
    // lock let go, instead of killing it where it stands.
    void endSignalClosesLikeTheWindow_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGHUP") << int(SIGHUP);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void endSignalClosesLikeTheWindow() {
        QFETCH(int, signal);
        const QString ini = FEnv->ConfigHome() + QStringLiteral("/ScanlumeReceiver/settings.ini");
        auto running = StartPictoport(Env());
        QVERIFY(WaitFor([&] { return QFile::exists(SocketPath()); }));
        QVERIFY(!QFile::exists(ini));
        ::kill(static_cast<pid_t>(running->processId()), signal);
        QVERIFY(running->waitForFinished(10000));
        QCOMPARE(running->exitStatus(), QProcess::NormalExit);
        QCOMPARE(running->exitCode(), 0);
        QVERIFY2(QFile::exists(ini), "the settings are saved on the way out");
        QVERIFY(!QFile::exists(SocketPath()));
        TSingleInstance next;
        QCOMPARE(next.Claim(), TSingleInstance::TRole::First);
    }

    void staleLockOfKilledInstance() {
        auto crashed = StartPictoport(Env());
        QVERIFY(WaitFor([&] { return QFile::exists(SocketPath()); }));
        ::kill(static_cast<pid_t>(crashed->processId()), SIGKILL);
        QVERIFY(crashed->waitForFinished());
        // Its lock file and socket are still on disk; neither may block the next start.
        QVERIFY(QFile::exists(SocketPath()));
        TSingleInstance next;
        QCOMPARE(next.Claim(), TSingleInstance::TRole::First);
        next.Listen();
        QSignalSpy spy(&next, &TSingleInstance::ShowMeRequested);
        auto later = StartPictoport(Env());
        QVERIFY(later->waitForFinished(10000));
        QCOMPARE(later->exitCode(), 0);
        QVERIFY(WaitFor([&] { return spy.count() >= 1; }));
    }

    void missingRuntimeDirStartsAlone_data() {
        QTest::addColumn<QString>("runtimeDir");
        QTest::newRow("unset") << QString();
        QTest::newRow("does not exist") << QStringLiteral("/nonexistent/runtime");
    }
    void missingRuntimeDirStartsAlone() {
        QFETCH(QString, runtimeDir);
        QProcessEnvironment env = Env();
        if (runtimeDir.isEmpty())
            env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        else
            env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
        auto a = StartPictoport(env);
        auto b = StartPictoport(env);
        QVERIFY(a->waitForStarted() && b->waitForStarted());
        // Neither can know about the other, so both run.
        QVERIFY(!a->waitForFinished(1500));
        QCOMPARE(b->state(), QProcess::Running);
        a->kill();
        b->kill();
        a->waitForFinished();
        b->waitForFinished();
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_single_instance.moc"

// pictoport --help and --version answer on standard output and end, with no display and while
// another Pictoport runs: a clinic's IT person asks them from a terminal or a script.
#include "platform/uSingleInstance.h"

#include "uTestEnv.h"

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

class TestCommandLine : public QObject {
    Q_OBJECT
    std::unique_ptr<TTestEnv> FEnv;

private Q_SLOTS:
    void init() { FEnv = std::make_unique<TTestEnv>(); }

    void answersWithoutAWindow_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("output"); // a pattern
        QTest::newRow("--version")
            << QStringList{"--version"} << QStringLiteral(R"(^pictoport \d+\.\d+\.\d+)");
        QTest::newRow("-v") << QStringList{"-v"} << QStringLiteral(R"(^pictoport \d+\.\d+\.\d+)");
        QTest::newRow("--help") << QStringList{"--help"}
                                << QStringLiteral(R"(Usage: .*pictoport.*--version)");
        QTest::newRow("-h beside Qt's own option")
            << QStringList{"-platform", "xcb", "-h"} << QStringLiteral(R"(Usage: .*--help)");
    }
    void answersWithoutAWindow() {
        QFETCH(QStringList, args);
        QFETCH(QString, output);
        // Another Pictoport holds the instance: the answer must still come, not a show-me.
        TSingleInstance running;
        QCOMPARE(running.Claim(), TSingleInstance::TRole::First);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(qEnvironmentVariable("PICTOPORT_EXE"), args);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        const QString out = QString::fromUtf8(process.readAllStandardOutput());
        QVERIFY2(QRegularExpression(output, QRegularExpression::DotMatchesEverythingOption)
                     .match(out)
                     .hasMatch(),
                 qPrintable(out));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"

// The one rule for which of the main window's commands apply.
#include "commands/uCommandStates.h"

#include <QtTest>

class TestCommandStates : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void states_data() {
        QTest::addColumn<bool>("image");
        QTest::addColumn<bool>("text");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<bool>("receiving");
        // Connect, Stop, AccountEditable, OcrRegion, OcrFull, Rx, Extract, CopyText, Items
        QTest::addColumn<QString>("expected");
        QTest::newRow("nothing shown, stopped")
            << false << false << false << false << QStringLiteral("101000001");
        QTest::newRow("receiving")
            << false << false << false << true << QStringLiteral("010000001");
        QTest::newRow("image") << true << false << false << true << QStringLiteral("010111101");
        QTest::newRow("image while a task runs")
            << true << false << true << false << QStringLiteral("101000000");
        QTest::newRow("text") << false << true << false << false << QStringLiteral("101000111");
        QTest::newRow("text while a task runs")
            << false << true << true << true << QStringLiteral("010000010");
    }
    void states() {
        QFETCH(bool, image);
        QFETCH(bool, text);
        QFETCH(bool, busy);
        QFETCH(bool, receiving);
        QFETCH(QString, expected);
        const TCommandStates s = CommandStates(image, text, busy, receiving);
        QString got;
        for (bool b : {s.Connect, s.Stop, s.AccountEditable, s.OcrRegion, s.OcrFull, s.Rx,
                       s.Extract, s.CopyText, s.Items})
            got += b ? u'1' : u'0';
        QCOMPARE(got, expected);
    }
};

QTEST_GUILESS_MAIN(TestCommandStates)
#include "tst_commandstates.moc"

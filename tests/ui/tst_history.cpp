#include <QtTest>
class TestHistory : public QObject {
    Q_OBJECT
};
QTEST_MAIN(TestHistory)
#include "tst_history.moc"

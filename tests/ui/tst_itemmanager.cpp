#include <QtTest>
class TestItemManager : public QObject {
    Q_OBJECT
};
QTEST_MAIN(TestItemManager)
#include "tst_itemmanager.moc"

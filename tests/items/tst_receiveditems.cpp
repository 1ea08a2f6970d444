// The item list without a window: what each kind of arrival keeps in memory and on disk,
// newest first, with real files in a temporary save folder.
#include "common/uClock.h"
#include "items/uReceivedItems.h"

#include "uTestEnv.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestReceivedItems : public QObject {
    Q_OBJECT
    TTestEnv FEnv;
    QTemporaryDir FFolder;
    const QByteArray FJpeg =
        QByteArray("\xFF\xD8\xFF\xE0 not a real picture, bytes all the same", 44);

    static QByteArray Read(const QString& APath) {
        QFile file(APath);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private Q_SLOTS:
    void initTestCase() {
        TClock::Set([] { return QDateTime(QDate(2024, 5, 1), QTime(9, 30, 15)); });
    }

    // Where an image goes and what stays in memory: saved bytes live on disk only, unsaved
    // ones in memory; an empty body is never saved and always reported.
    void imageArrival_data() {
        QTest::addColumn<bool>("autoSave");
        QTest::addColumn<bool>("withFolder");
        QTest::addColumn<bool>("empty");
        QTest::addColumn<bool>("saved");
        QTest::addColumn<QString>("failureStart");
        QTest::newRow("saved") << true << true << false << true << QString();
        QTest::newRow("auto-save off") << false << true << false << false << QString();
        QTest::newRow("no folder")
            << true << false << false << false << QStringLiteral("保存フォルダが空欄のため");
        QTest::newRow("empty body")
            << true << true << true << false << QStringLiteral("空の画像を受信しました");
    }
    void imageArrival() {
        QFETCH(bool, autoSave);
        QFETCH(bool, withFolder);
        QFETCH(bool, empty);
        QFETCH(bool, saved);
        QFETCH(QString, failureStart);
        TReceivedItems items;
        const TSaveTarget target{withFolder ? FFolder.path() : QString(), QStringLiteral("123"),
                                 autoSave};
        const QByteArray body = empty ? QByteArray() : FJpeg;
        const QString failure =
            items.AddImage(target, QStringLiteral("photo.jpg"), QStringLiteral("image/jpeg"), body);
        QVERIFY2(failure.startsWith(failureStart), qPrintable(failure));
        QCOMPARE(failure.isEmpty(), failureStart.isEmpty());
        QCOMPARE(items.Count(), 1);
        const TReceivedImage& item = items.At(0);
        QCOMPARE(item.SavedPath.isEmpty(), !saved);
        QCOMPARE(item.DataOnDisk, saved);
        QCOMPARE(item.Data.isEmpty(), saved || empty);
        QByteArray bytes;
        QString error;
        QVERIFY2(items.Bytes(0, bytes, error), qPrintable(error));
        QCOMPARE(bytes, body);
        if (saved)
            QCOMPARE(Read(item.SavedPath), body);
        QDir(FFolder.path()).removeRecursively();
        QDir().mkpath(FFolder.path());
    }

    // A saved picture whose file has gone gives an error, not an empty picture.
    void savedPictureGone() {
        TReceivedItems items;
        QVERIFY(items
                    .AddImage({FFolder.path(), QString(), true}, QStringLiteral("a.jpg"),
                              QStringLiteral("image/jpeg"), FJpeg)
                    .isEmpty());
        QVERIFY(QFile::remove(items.At(0).SavedPath));
        QByteArray bytes;
        QString error;
        QVERIFY(!items.Bytes(0, bytes, error));
        QVERIFY(!error.isEmpty());
    }

    // Texts: the newest on top, line breaks made CR LF in memory and in the file; bytes
    // that are not UTF-8 are saved as they came.
    void textsNewestFirst() {
        TReceivedItems items;
        const ItemSaver::TSaved first =
            items.AddText(FFolder.path(), QStringLiteral("a.txt"), QStringLiteral("x\ny"));
        QVERIFY2(first.Error.isEmpty(), qPrintable(first.Error));
        const QByteArray latin1("caf\xE9\n", 5);
        const ItemSaver::TSaved second =
            items.AddUnreadableText(FFolder.path(), QStringLiteral("b.txt"), latin1);
        QVERIFY2(second.Error.isEmpty(), qPrintable(second.Error));
        QCOMPARE(items.Count(), 2);
        QCOMPARE(items.At(0).Filename, QStringLiteral("b.txt"));
        QCOMPARE(items.At(1).Text, QStringLiteral("x\r\ny"));
        QCOMPARE(Read(first.Path), QByteArray("\xEF\xBB\xBFx\r\ny"));
        QCOMPARE(Read(second.Path), latin1);
        QVERIFY(items.At(0).IsText && items.At(1).IsText);
    }
};

QTEST_GUILESS_MAIN(TestReceivedItems)
#include "tst_receiveditems.moc"

// Photographed lab reports, recognised and extracted through the service as the receiver asks
// for them. The floors below are what the service reads today; the recognition benchmark
// prints the figures and holds the goals.
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTransform>
#include <QtTest>

#include "uLocalService.h"
#include "uReportPages.h"

namespace {

const QString kUser = QStringLiteral("demo@example.com:secret");

QByteArray UploadForm(const QByteArray& AJpeg, const QByteArray& ABoundary) {
    return "--" + ABoundary +
           "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"region.jpg\"\r\n"
           "Content-Type: image/jpeg\r\n\r\n" +
           AJpeg + "\r\n--" + ABoundary + "--\r\n";
}

} // namespace

class TReportRecognitionTest : public QObject {
    Q_OBJECT

private:
    TLocalService FService;
    QString FToken;
    std::vector<TReportPage> FPages;

    TLocalService::TReply Upload(const QByteArray& AJpeg) {
        const QByteArray Boundary = "----report0123";
        return FService.Call("POST", QStringLiteral("/api/image-jobs/upload"),
                             {{"Authorization", "Bearer " + FToken.toUtf8()},
                              {"Content-Type", "multipart/form-data; boundary=" + Boundary}},
                             UploadForm(AJpeg, Boundary), 120000);
    }

    QJsonObject Extract(const QString& AText) {
        const auto Reply = FService.Call(
            "POST", QStringLiteral("/api/extraction/extract"),
            {{"Authorization", "Bearer " + FToken.toUtf8()}, {"Content-Type", "application/json"}},
            QJsonDocument(QJsonObject{{"text", AText}}).toJson(), 15000);
        return QJsonDocument::fromJson(Reply.Body).object();
    }

private slots:
    void initTestCase() {
        TLocalService::TOptions Options;
        Options.Preload = true;
        QVERIFY(FService.Start(Options));
        FToken = FService.Token(kUser);
        QVERIFY(!FToken.isEmpty());
        FPages = MakeReportPages();
    }

    // Per page: share of characters read right, default items found with their printed value,
    // and whether the institution and the exam date must come out right. No value may ever
    // come out wrong: a missing one is noticed, a wrong one goes into the chart. Some pages are
    // sent turned by quarter turns clockwise, as a phone held sideways or upside down takes
    // them: the service reads them upright.
    void readsReports_data() {
        QTest::addColumn<QString>("page");
        QTest::addColumn<int>("turns");
        QTest::addColumn<double>("minAccuracy");
        QTest::addColumn<int>("minItems");
        QTest::addColumn<bool>("headerRight");

        QTest::newRow("table, clean") << "table-sans-30px/clean" << 0 << 0.99 << 8 << true;
        QTest::newRow("list, clean") << "list-serif-22px/clean" << 0 << 0.99 << 8 << true;
        QTest::newRow("columns, clean") << "columns-mono-48px/clean" << 0 << 0.99 << 8 << true;
        QTest::newRow("plain, clean") << "plain-sans-26px/clean" << 0 << 0.99 << 8 << true;
        QTest::newRow("table, degraded") << "table-sans-30px/degraded" << 0 << 0.98 << 8 << true;
        // Its readings disagree on one value's digits, and a "%" read as 9 stands beside
        // another value like an earlier result: both are left out.
        QTest::newRow("list, degraded") << "list-serif-22px/degraded" << 0 << 0.88 << 6 << false;
        QTest::newRow("columns, degraded")
            << "columns-mono-48px/degraded" << 0 << 0.99 << 8 << true;
        QTest::newRow("plain, degraded") << "plain-sans-26px/degraded" << 0 << 0.99 << 8 << true;
        QTest::newRow("plain, clean, on its side")
            << "plain-sans-26px/clean" << 1 << 0.98 << 8 << true;
        QTest::newRow("table, degraded, upside down")
            << "table-sans-30px/degraded" << 2 << 0.97 << 8 << true;
        QTest::newRow("columns, clean, on its other side")
            << "columns-mono-48px/clean" << 3 << 0.98 << 8 << true;
    }

    void readsReports() {
        QFETCH(QString, page);
        QFETCH(int, turns);
        QFETCH(double, minAccuracy);
        QFETCH(int, minItems);
        QFETCH(bool, headerRight);

        const auto Page = std::find_if(FPages.begin(), FPages.end(),
                                       [&](const TReportPage& P) { return P.Name == page; });
        QVERIFY(Page != FPages.end());
        const QByteArray Jpeg =
            turns == 0
                ? Page->Jpeg
                : EncodeJpeg(
                      QImage::fromData(Page->Jpeg).transformed(QTransform().rotate(90.0 * turns)),
                      95);
        const auto Reply = Upload(Jpeg);
        if (Reply.Status == 503) {
            QSKIP("Tesseract language data jpn and eng is not installed");
        }
        QCOMPARE(Reply.Status, 200);
        const QString Text =
            QJsonDocument::fromJson(Reply.Body).object().value("extracted_text").toString();
        const double Accuracy = CharacterAccuracy(Page->Text, Text);
        QVERIFY2(Accuracy >= minAccuracy,
                 qPrintable(QStringLiteral("%1 of characters:\n%2").arg(Accuracy).arg(Text)));

        const QJsonObject Extraction = Extract(Text);
        int Found = 0;
        for (const QJsonValue& Value : Extraction.value("results").toArray()) {
            const QJsonObject R = Value.toObject();
            for (const auto& [Item, Printed] : Page->Values) {
                if (R.value("name").toString() != Item) {
                    continue;
                }
                if (R.value("value").toString() == Printed) {
                    ++Found;
                } else {
                    QFAIL(qPrintable(QStringLiteral("wrong value ") + Item + u'=' +
                                     R.value("value").toString()));
                }
            }
        }
        QVERIFY2(Found >= minItems,
                 qPrintable(
                     QStringLiteral("%1 items (%2) in:\n%3")
                         .arg(Found)
                         .arg(QString::fromUtf8(QJsonDocument(Extraction.value("results").toArray())
                                                    .toJson(QJsonDocument::Compact)))
                         .arg(Text)));
        if (headerRight) {
            QCOMPARE(ComparableText(Extraction.value("institution").toString()),
                     ComparableText(Page->Institution));
            QCOMPARE(Extraction.value("exam_date").toString(), Page->ExamDate);
        }
    }
};

QTEST_MAIN(TReportRecognitionTest)
#include "tReportRecognition.moc"

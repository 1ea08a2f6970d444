// Text recognition of an uploaded JPEG, end to end through Tesseract.
#include <QBuffer>
#include <QFont>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QRegularExpression>
#include <QtTest>

#include "uLocalService.h"

namespace {

const QString kUser = QStringLiteral("demo@example.com:secret");

QByteArray RenderJpeg(const QStringList& ALines) {
    QImage Image(900, 110 * static_cast<int>(ALines.size()) + 60, QImage::Format_RGB32);
    Image.fill(Qt::white);
    QPainter Painter(&Image);
    QFont Font(QStringLiteral("Noto Sans CJK JP"));
    Font.setPixelSize(64);
    Painter.setFont(Font);
    Painter.setPen(Qt::black);
    for (qsizetype i = 0; i < ALines.size(); ++i) {
        Painter.drawText(40, 100 + 110 * static_cast<int>(i), ALines[i]);
    }
    Painter.end();
    QByteArray Jpeg;
    QBuffer Buffer(&Jpeg);
    Buffer.open(QIODevice::WriteOnly);
    Image.save(&Buffer, "JPG", 90);
    return Jpeg;
}

QByteArray UploadForm(const QByteArray& AJpeg, bool ANotify, const QByteArray& ABoundary,
                      const QByteArray& AMode = "prescription") {
    return "--" + ABoundary +
           "\r\n"
           "Content-Disposition: form-data; name=\"file\"; filename=\"region.jpg\"\r\n"
           "Content-Type: image/jpeg\r\n\r\n" +
           AJpeg +
           "\r\n"
           "--" +
           ABoundary +
           "\r\n"
           "Content-Disposition: form-data; name=\"patient_code\"\r\n\r\n0123\r\n"
           "--" +
           ABoundary +
           "\r\n"
           "Content-Disposition: form-data; name=\"notify_pc\"\r\n\r\n" +
           (ANotify ? "true" : "false") +
           "\r\n"
           "--" +
           ABoundary +
           "\r\n"
           "Content-Disposition: form-data; name=\"mode\"\r\n\r\n" +
           AMode +
           "\r\n"
           "--" +
           ABoundary + "--\r\n";
}

QString WithoutBlanks(QString AText) {
    AText.remove(QRegularExpression(QStringLiteral("\\s")));
    return AText;
}

} // namespace

class TRecognitionTest : public QObject {
    Q_OBJECT

private:
    TLocalService FService;

private slots:
    void initTestCase() { QVERIFY(FService.Start()); }

    // One upload, as the receiver sends it, with notify_pc so the text also reaches receivers.
    void recognisesRenderedText() {
        const QString Token = FService.Token(kUser);
        const QByteArray Boundary = "----pictoport0123";
        const auto Reply = FService.Call(
            "POST", QStringLiteral("/api/image-jobs/upload"),
            {{"Authorization", "Bearer " + Token.toUtf8()},
             {"Content-Type", "multipart/form-data; boundary=" + Boundary}},
            UploadForm(RenderJpeg({QStringLiteral("検査結果"), QStringLiteral("血糖 126 mg/dL")}),
                       true, Boundary),
            60000);
        if (Reply.Status == 503) {
            QSKIP("Tesseract language data jpn and eng is not installed");
        }
        QCOMPARE(Reply.Status, 200);
        const QString Text =
            QJsonDocument::fromJson(Reply.Body).object().value("extracted_text").toString();
        QVERIFY2(WithoutBlanks(Text).contains(QStringLiteral("検査結果")), qPrintable(Text));
        QVERIFY2(WithoutBlanks(Text).contains(QStringLiteral("血糖126mg/dL")), qPrintable(Text));

        const auto Item = FService.Poll(Token, 1);
        QCOMPARE(Item.Status, 200);
        QCOMPARE(Item.Header("X-Image-Filename"), QByteArray("result.txt"));
        QCOMPARE(QString::fromUtf8(Item.Body), Text);
    }

    // A lab report's text names its tests as the items spell them, whatever the engine read; a
    // prescription's text stays as read.
    void itemNamesOfLabReports_data() {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<QString>("expected");
        QTest::newRow("lab report") << QByteArray() << QStringLiteral("γ-GTP88U/L");
        QTest::newRow("prescription") << QByteArray("prescription") << QStringLiteral("y-GTP88U/L");
    }

    void itemNamesOfLabReports() {
        QFETCH(QByteArray, mode);
        QFETCH(QString, expected);
        const QByteArray Boundary = "----pictoport4567";
        const auto Reply = FService.Call(
            "POST", QStringLiteral("/api/image-jobs/upload"),
            {{"Authorization", "Bearer " + FService.Token(kUser).toUtf8()},
             {"Content-Type", "multipart/form-data; boundary=" + Boundary}},
            UploadForm(RenderJpeg({QStringLiteral("y-GTP 88 U/L")}), false, Boundary, mode), 60000);
        if (Reply.Status == 503) {
            QSKIP("Tesseract language data jpn and eng is not installed");
        }
        QCOMPARE(Reply.Status, 200);
        const QString Text =
            QJsonDocument::fromJson(Reply.Body).object().value("extracted_text").toString();
        QCOMPARE(WithoutBlanks(Text), expected);
    }
};

QTEST_MAIN(TRecognitionTest)
#include "tRecognition.moc"

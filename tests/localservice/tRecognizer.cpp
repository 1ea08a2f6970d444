// The recogniser on its own: a generated report photo read within and past the deadline.
#include <QtTest>

#include "reading/uRecognizer.h"
#include "uReportPages.h"

class TRecognizerTest : public QObject {
    Q_OBJECT

private:
    std::vector<TReportPage> FPages;

private slots:
    void initTestCase() { FPages = MakeReportPages(); }

    // A page read in time gives its text; a page the engines cannot finish in time gives
    // nothing rather than the part they read.
    void deadline_data() {
        QTest::addColumn<int>("deadlineMs");
        QTest::addColumn<bool>("inTime");
        QTest::newRow("in time") << 60'000 << true;
        QTest::newRow("past the deadline") << 1 << false;
    }

    void deadline() {
        QFETCH(int, deadlineMs);
        QFETCH(bool, inTime);
        const QByteArray& Jpeg = FPages.front().Jpeg;
        TRecognitionSettings Settings;
        Settings.DeadlineMs = deadlineMs;
        TRecognizer Recognizer(2, Settings);
        std::string Text = "left over";
        const auto Status =
            Recognizer.Recognize({Jpeg.constData(), static_cast<size_t>(Jpeg.size())}, Text);
        if (Status == TRecognizer::TStatus::Unavailable) {
            QSKIP("Tesseract language data jpn and eng is not installed");
        }
        if (inTime) {
            QCOMPARE(Status, TRecognizer::TStatus::Ok);
            QVERIFY2(QString::fromStdString(Text).contains(QStringLiteral("AST")), Text.c_str());
        } else {
            QCOMPARE(Status, TRecognizer::TStatus::TimedOut);
            QVERIFY(Text.empty());
        }
    }
};

QTEST_MAIN(TRecognizerTest)
#include "tRecognizer.moc"

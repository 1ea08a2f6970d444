// The recognition and extraction commands of the main window, driven through its real
// buttons against a real scanlume-local: messages, status texts and colours, result
// files, the lab results window, failures, the busy rule and closing mid-task.
#include "common/uClock.h"
#include "files/uLabTable.h"
#include "ui/fmMain.h"
#include "ui/uDialogs.h"
#include "ui/uElidedLabel.h"
#include "ui/uExtractUI.h"
#include "ui/uMessages.h"
#include "ui/uPreviewWidget.h"
#include "ui/uRecognitionActions.h"
#include "ui/uSelectionOverlay.h"

#include "uLocalService.h"
#include "uTestEnv.h"

#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFont>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QThreadPool>
#include <QTreeWidget>
#include <QtTest>

namespace {

const QString Stamp = QStringLiteral("20261210_090507");
const QString Upload = QStringLiteral("/api/image-jobs/upload");
const QString Extract = QStringLiteral("/api/extraction/extract");
const QString NoImage = QStringLiteral("先に一覧から画像を選択してください。");
const QString NoSelection =
    QStringLiteral("画像の上をドラッグして、文字化したい範囲を選択してください。");
const QString Busy = QStringLiteral("解析中です。完了までお待ちください。");
const QString MissingAccount =
    QStringLiteral("サーバーURL・メールアドレス・パスワードを入力してください。");
const QString NothingToExtract =
    QStringLiteral("画像の範囲を選択するか、テキストを表示してから実行してください。");
const QColor Navy(0, 0, 128), Green(0, 128, 0), Maroon(128, 0, 0);

// Four flat quarters, red, green, blue and yellow from the top left, so the part that
// was sent can be told from its colour.
QByteArray Quarters(int AWidth, int AHeight) {
    QImage img(AWidth, AHeight, QImage::Format_RGB888);
    QPainter p(&img);
    p.fillRect(0, 0, AWidth / 2, AHeight / 2, Qt::red);
    p.fillRect(AWidth / 2, 0, AWidth - AWidth / 2, AHeight / 2, Qt::green);
    p.fillRect(0, AHeight / 2, AWidth / 2, AHeight - AHeight / 2, Qt::blue);
    p.fillRect(AWidth / 2, AHeight / 2, AWidth - AWidth / 2, AHeight - AHeight / 2, Qt::yellow);
    p.end();
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, "JPG", 90);
    return bytes;
}

// A printed lab report, large and clean.
QByteArray Report(const QStringList& ALines) {
    QImage img(1000, 120 * int(ALines.size()) + 80, QImage::Format_RGB888);
    img.fill(Qt::white);
    QPainter p(&img);
    QFont font(QStringLiteral("Noto Sans CJK JP"));
    font.setPixelSize(60);
    p.setFont(font);
    p.setPen(Qt::black);
    for (int i = 0; i < ALines.size(); ++i)
        p.drawText(40, 100 + 120 * i, ALines[i]);
    p.end();
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, "JPG", 92);
    return bytes;
}

// The value of a part of a multipart form body; AFound tells whether it is there.
QByteArray FormPart(const QByteArray& ABody, const QByteArray& AName, bool* AFound = nullptr) {
    const QByteArray head = "name=\"" + AName + "\"";
    const qsizetype at = ABody.indexOf(head);
    if (AFound)
        *AFound = at >= 0;
    if (at < 0)
        return {};
    const qsizetype start = ABody.indexOf("\r\n\r\n", at) + 4;
    return ABody.mid(start, ABody.indexOf("\r\n--", start) - start);
}

QByteArray ReadAll(const QString& APath) {
    QFile f(APath);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QColor StatusColor(const TFormMain& AForm) {
    return AForm.Connection()->lblStatus->palette().color(QPalette::WindowText);
}

} // namespace

class TestRecognitionActions : public QObject {
    Q_OBJECT
    std::unique_ptr<TTestEnv> FEnv;
    TLocalService FService;
    QStringList FMessages;
    QList<QList<TLabValue>> FShownTables; // what each lab results window showed
    QList<QStringList> FShownNotFound;    // and the items it listed as not found
    QList<TLabTrendRequest> FShownTrends; // and whose trend its 検査値の推移 opens

    std::unique_ptr<TFormMain> NewForm() {
        auto form = std::make_unique<TFormMain>();
        form->Connection()->edtUrl->setText(FService.BaseUrl());
        form->Connection()->edtEmail->setText(QStringLiteral(" demo@example.com "));
        form->Connection()->edtPassword->setText(QStringLiteral("secret"));
        form->Connection()->edtFolder->setText(SaveFolder());
        form->Connection()->chkAutoSave->setChecked(false);
        form->resize(1100, 720);
        form->show();
        if (!QTest::qWaitForWindowExposed(form.get()))
            qWarning("window not exposed");
        return form;
    }
    QString SaveFolder() const { return FEnv->Root() + QStringLiteral("/save"); }
    void Script(const QString& APath, int AStatus, const QByteArray& ABody, int ADelayMs = 0) {
        TLocalService::TScript s;
        s.Path = APath;
        s.Status = AStatus;
        s.Body = ABody;
        if (!ABody.isEmpty())
            s.Headers = {{"Content-Type", "application/json"}};
        s.DelayMs = ADelayMs;
        FService.Script(s);
    }
    QList<TLocalService::TRecorded> RequestsTo(const QString& APath) {
        QList<TLocalService::TRecorded> out;
        for (const auto& r : FService.Requests()) {
            if (r.Path == APath.toUtf8())
                out << r;
        }
        return out;
    }
    // Selects a part of the shown picture given as fractions of the drawn picture.
    void SelectFraction(TFormMain& AForm, double AX1, double AY1, double AX2, double AY2) {
        const qreal dpr = AForm.pnlPreview->imgPreview->devicePixelRatioF();
        const QRect d = AForm.pnlPreview->imgPreview->DrawnRect();
        const auto x = [&](double f) { return int((d.left() + f * d.width()) / dpr); };
        const auto y = [&](double f) { return int((d.top() + f * d.height()) / dpr); };
        AForm.pnlPreview->pbSelect->SetSelection({x(AX1), y(AY1), x(AX2), y(AY2)});
    }
    void WaitIdle(TFormMain& AForm) {
        QTRY_VERIFY_WITH_TIMEOUT(!AForm.Recognition()->IsBusy(), 20000);
    }

private Q_SLOTS:
    void initTestCase() {
        Messages::SetHandler([this](QWidget*, const QString& AText) { FMessages << AText; });
        Dialogs::SetRunner([this](QDialog& ADialog) {
            if (auto* form = qobject_cast<TLabResultsForm*>(&ADialog)) {
                FShownTables << form->Data();
                FShownNotFound << form->NotFound();
                FShownTrends << form->TrendRequest();
            }
            return 0;
        });
        TClock::Set([] { return QDateTime(QDate(2026, 12, 10), QTime(9, 5, 7)); });
        QVERIFY(FService.Start());
    }
    void init() {
        FEnv = std::make_unique<TTestEnv>();
        FMessages.clear();
        FShownTables.clear();
        FShownNotFound.clear();
        FShownTrends.clear();
        FService.Reset();
    }

    void refusals_data() {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("message");
        QTest::newRow("region, no image") << "nothing"
                                          << "region" << NoImage;
        QTest::newRow("whole, no image") << "nothing"
                                         << "full" << NoImage;
        QTest::newRow("prescription, no image") << "text"
                                                << "rx" << NoImage;
        QTest::newRow("region without a selection") << "image"
                                                    << "region" << NoSelection;
        QTest::newRow("region, 3 x 3 picture pixels") << "tiny selection"
                                                      << "region" << NoSelection;
        QTest::newRow("extract with blanks shown") << "blank text"
                                                   << "extract" << NothingToExtract;
        QTest::newRow("extract with nothing shown") << "nothing"
                                                    << "extract" << NothingToExtract;
        QTest::newRow("no password") << "image, no password"
                                     << "full" << MissingAccount;
        QTest::newRow("no server for extraction") << "text, no url"
                                                  << "extract" << MissingAccount;
        QTest::newRow("a blank e-mail") << "image, blank email"
                                        << "rx" << MissingAccount;
    }
    void refusals() {
        QFETCH(QString, setup);
        QFETCH(QString, action);
        QFETCH(QString, message);
        auto form = NewForm();
        if (setup.startsWith(QLatin1String("image")) || setup == QLatin1String("tiny selection"))
            form->AddImageItem(QStringLiteral("a.jpg"), QStringLiteral("image/jpeg"),
                               Quarters(40, 30));
        if (setup == QLatin1String("tiny selection")) {
            // The picture is drawn at its own size: 3 overlay pixels are 3 picture pixels.
            const QRect d = form->pnlPreview->imgPreview->DrawnRect();
            const qreal dpr = form->pnlPreview->imgPreview->devicePixelRatioF();
            const int x = int(d.left() / dpr) + 5, y = int(d.top() / dpr) + 5;
            form->pnlPreview->pbSelect->SetSelection({x, y, x + int(3 / dpr), y + int(3 / dpr)});
        }
        if (setup.startsWith(QLatin1String("text")))
            form->AddTextItem(QStringLiteral("t.txt"), QStringLiteral("AST 24"));
        if (setup == QLatin1String("blank text"))
            form->AddTextItem(QStringLiteral("t.txt"), QStringLiteral(" \r\n\t"));
        if (setup.endsWith(QLatin1String("no password")))
            form->Connection()->edtPassword->clear();
        if (setup.endsWith(QLatin1String("no url")))
            form->Connection()->edtUrl->setText(QStringLiteral("  "));
        if (setup.endsWith(QLatin1String("blank email")))
            form->Connection()->edtEmail->setText(QStringLiteral(" \t"));
        const QString statusBefore = form->Connection()->lblStatus->text();
        TRecognitionActions* a = form->Recognition();
        if (action == QLatin1String("region"))
            a->btnOcrRegionClick();
        else if (action == QLatin1String("full"))
            a->btnOcrFullClick();
        else if (action == QLatin1String("rx"))
            a->btnRxClick();
        else
            a->btnExtractClick();
        QCOMPARE(FMessages, QStringList{message});
        QVERIFY(!a->IsBusy());
        QCOMPARE(form->Connection()->lblStatus->text(), statusBefore);
        QVERIFY(FService.Requests().isEmpty());
    }

    // Each recognition button: what is cut out and sent, and the text item it gives.
    void recognitionButtons_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("selection");
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QString>("patient");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QSize>("sent");
        QTest::addColumn<bool>("prescription");
        const QString plain = QStringLiteral("選択範囲を解析中です...");
        const QString rx = QStringLiteral("処方を抽出中です...");
        QTest::newRow("region: the top-left quarter only")
            << "btnOcrRegion"
            << "quarter" << QSize(800, 600) << " 12345 " << plain << "12345_" + Stamp + ".txt"
            << QSize() << false;
        QTest::newRow("whole image") << "btnOcrFull"
                                     << "quarter" << QSize(800, 600) << "12345" << plain
                                     << "12345_" + Stamp + ".txt" << QSize(800, 600) << false;
        QTest::newRow("prescription, whole image, no patient number")
            << "btnRx"
            << "none" << QSize(800, 600) << "" << rx << "OCR_処方_" + Stamp + ".txt"
            << QSize(800, 600) << true;
        QTest::newRow("prescription with an unusable selection sends the whole image")
            << "btnRx"
            << "tiny" << QSize(800, 600) << "7" << rx << "7_処方_" + Stamp + ".txt"
            << QSize(800, 600) << true;
        QTest::newRow("a large photo goes at 1568 pixels")
            << "btnOcrFull"
            << "none" << QSize(3200, 2400) << "" << plain << "OCR_" + Stamp + ".txt"
            << QSize(1568, 1176) << false;
        QTest::newRow("a separator in the patient number stays in the name")
            << "btnOcrFull"
            << "none" << QSize(80, 60) << "12/34" << plain << "12_34_" + Stamp + ".txt"
            << QSize(80, 60) << false;
    }
    void recognitionButtons() {
        QFETCH(QString, button);
        QFETCH(QString, selection);
        QFETCH(QSize, picture);
        QFETCH(QString, patient);
        QFETCH(QString, status);
        QFETCH(QString, name);
        QFETCH(QSize, sent);
        QFETCH(bool, prescription);
        auto form = NewForm();
        form->pnlTool->edtPatientId->setText(patient);
        form->AddImageItem(QStringLiteral("scan.jpg"), QStringLiteral("image/jpeg"),
                           Quarters(picture.width(), picture.height()));
        if (selection == QLatin1String("quarter"))
            SelectFraction(*form, 0.05, 0.05, 0.45, 0.45);
        if (selection == QLatin1String("tiny"))
            SelectFraction(*form, 0.1, 0.1, 0.1 + 2.0 / picture.width(),
                           0.1 + 2.0 / picture.height());
        Script(Upload, 200, R"({"extracted_text":"Rp.1 ロキソニン錠 60mg\n分3 毎食後"})", 300);
        QPushButton* pressed = button == QLatin1String("btnOcrRegion") ? form->pnlTool->btnOcrRegion
                               : button == QLatin1String("btnOcrFull") ? form->pnlTool->btnOcrFull
                                                                       : form->pnlTool->btnRx;
        QVERIFY(pressed->isEnabled());
        pressed->click();
        QCOMPARE(form->Connection()->lblStatus->text(), status);
        QCOMPARE(StatusColor(*form), Navy);
        // While the task runs nothing else may start, nor may the item manager use the client.
        for (QPushButton* p :
             {form->pnlTool->btnOcrRegion, form->pnlTool->btnOcrFull, form->pnlTool->btnRx,
              form->pnlTool->btnExtract, form->pnlTool->btnItems})
            QVERIFY2(!p->isEnabled(), qPrintable(p->text()));
        QTRY_COMPARE_WITH_TIMEOUT(form->Items().size(), 2, 20000);
        QVERIFY(FMessages.isEmpty());
        const TReceivedImage& item = form->Items()[0];
        QVERIFY(item.IsText);
        QCOMPARE(item.Filename, name);
        QCOMPARE(item.Text, QStringLiteral("Rp.1 ロキソニン錠 60mg\r\n分3 毎食後"));
        QCOMPARE(item.SavedPath, SaveFolder() + u'/' + name);
        QCOMPARE(ReadAll(item.SavedPath), "\xEF\xBB\xBF" + item.Text.toUtf8());
        QCOMPARE(QApplication::clipboard()->text(), item.Text);
        QCOMPARE(form->Connection()->lblStatus->text(),
                 QStringLiteral("クリップボードにコピー済 ／ 保存先: ") + item.SavedPath);
        QCOMPARE(StatusColor(*form), Green);
        QVERIFY(form->pnlTool->btnItems->isEnabled() && form->pnlTool->btnExtract->isEnabled());

        const QList<TLocalService::TRecorded> uploads = RequestsTo(Upload);
        QCOMPARE(uploads.size(), 1);
        bool hasMode = false;
        QCOMPARE(FormPart(uploads[0].Body, "mode", &hasMode),
                 prescription ? QByteArray("prescription") : QByteArray());
        QCOMPARE(hasMode, prescription);
        bool hasPatient = false;
        QCOMPARE(QString::fromUtf8(FormPart(uploads[0].Body, "patient_code", &hasPatient)),
                 patient.trimmed());
        QCOMPARE(hasPatient, !patient.trimmed().isEmpty());
        const QImage jpeg = QImage::fromData(FormPart(uploads[0].Body, "file"), "JPG");
        QVERIFY(!jpeg.isNull());
        if (sent.isValid()) {
            QCOMPARE(jpeg.size(), sent);
        } else {
            // About 40 % of each side, all of it red.
            QVERIFY2(std::abs(jpeg.width() - 320) <= 4 && std::abs(jpeg.height() - 240) <= 4,
                     qPrintable(QStringLiteral("%1 x %2").arg(jpeg.width()).arg(jpeg.height())));
            for (QPoint p : {QPoint(2, 2), QPoint(jpeg.width() - 3, jpeg.height() - 3)}) {
                const QColor c = jpeg.pixelColor(p);
                QVERIFY2(c.red() > 200 && c.green() < 60 && c.blue() < 60, qPrintable(c.name()));
            }
        }
    }

    // The lab button on a picture: recognise, list the text, extract, list the table,
    // show the results window. The extraction is scanlume-local's own.
    void extractOnImage() {
        auto form = NewForm();
        form->AddImageItem(QStringLiteral("lab.jpg"), QStringLiteral("image/jpeg"),
                           Quarters(200, 150));
        Script(
            Upload, 200,
            R"({"extracted_text":"さくら内科クリニック\n検査日 2024/05/01\nAST 24 U/L 13-30\nHbA1c 6.4 % 4.9-6.0 H"})");
        // The real extraction, answered a little later so its status can be seen.
        form->pnlTool->btnExtract->click();
        QCOMPARE(
            form->Connection()->lblStatus->text(),
            QStringLiteral("選択範囲をテキスト化しています（このあと検査項目を抽出します）..."));
        QCOMPARE(StatusColor(*form), Navy);
        QTRY_COMPARE_WITH_TIMEOUT(FShownTables.size(), 1, 20000);
        QCOMPARE(form->Items().size(), 3);
        QCOMPARE(form->Items()[1].Filename, "OCR_" + Stamp + ".txt");
        const TReceivedImage& table = form->Items()[0];
        QCOMPARE(table.Filename, "OCR_検査_" + Stamp + ".txt");
        const QString tsv =
            QStringLiteral("検査実施日\t2024-05-01\r\n検査医療機関\tさくら内科クリニック\r\n\r\n"
                           "項目\t検査値\t単位\r\nAST\t24\tU/L\r\nHbA1c\t6.4\t%\r\n");
        QCOMPARE(table.Text, tsv);
        QCOMPARE(ReadAll(table.SavedPath), "\xEF\xBB\xBF" + tsv.toUtf8());
        QCOMPARE(QApplication::clipboard()->text(), tsv);
        QCOMPARE(FShownTables[0].size(), 2);
        QCOMPARE(FShownTables[0][1].Flag, QStringLiteral("H"));
        // The account's default items that the report did not yield, in their order.
        QCOMPARE(FShownNotFound[0], (QStringList{QStringLiteral("ALT"), QStringLiteral("HDL-C"),
                                                 QStringLiteral("LDL-C"), QStringLiteral("TG"),
                                                 QStringLiteral("Cr"), QStringLiteral("BS")}));
        QCOMPARE(StatusColor(*form), Green);
        QVERIFY(FMessages.isEmpty());
        QVERIFY(!form->Recognition()->IsBusy());
        // The text sent for extraction is the recognised text itself.
        const auto extracts = RequestsTo(Extract);
        QCOMPARE(extracts.size(), 1);
        QVERIFY(extracts[0].Body.contains("AST 24 U/L"));
    }

    void extractionStatusWhileRunning() {
        auto form = NewForm();
        form->AddTextItem(QStringLiteral("memo.txt"), QStringLiteral("AST 24 U/L"));
        Script(
            Extract, 200,
            R"({"results":[{"name":"AST","value":"24","unit":"U/L"}],"exam_date":null,"institution":null})",
            500);
        form->pnlTool->btnExtract->click();
        QCOMPARE(form->Connection()->lblStatus->text(), QStringLiteral("検査項目を抽出中です..."));
        QCOMPARE(StatusColor(*form), Navy);
        QVERIFY(!form->pnlTool->btnExtract->isEnabled());
        // A second press while it runs is refused.
        form->Recognition()->btnExtractClick();
        QCOMPARE(FMessages, QStringList{Busy});
        form->Recognition()->RunOcr("jpeg", false, false);
        QCOMPARE(FMessages, (QStringList{Busy, Busy}));
        QTRY_COMPARE_WITH_TIMEOUT(FShownTables.size(), 1, 20000);
        QCOMPARE(form->Items()[0].Filename, "OCR_検査_" + Stamp + ".txt");
        QCOMPARE(
            form->Items()[0].Text,
            QStringLiteral(
                "検査実施日\t\r\n検査医療機関\t\r\n\r\n項目\t検査値\t単位\r\nAST\t24\tU/L\r\n"));
        QCOMPARE(RequestsTo(Extract).size(), 1);
    }

    // A recognition result is named with the patient number of its start, a lab table
    // with the one in the box when the result arrives.
    // Staff type the next patient's number while a report is read: every result of a
    // press is filed under the number of that press.
    void patientNumberTiming_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QStringList>("names"); // newest first
        QTest::newRow("recognition") << "ocr" << QStringList{"111_" + Stamp + ".txt"};
        QTest::newRow("extraction from a text")
            << "text" << QStringList{"111_検査_" + Stamp + ".txt"};
        QTest::newRow("recognition, then extraction")
            << "image" << QStringList{"111_検査_" + Stamp + ".txt", "111_" + Stamp + ".txt"};
    }
    void patientNumberTiming() {
        QFETCH(QString, mode);
        QFETCH(QStringList, names);
        auto form = NewForm();
        form->pnlTool->edtPatientId->setText(QStringLiteral("111"));
        const QByteArray lab = R"({"results":[{"name":"AST","value":"24","unit":"U/L"}]})";
        if (mode == QLatin1String("text")) {
            form->AddTextItem(QStringLiteral("memo.txt"), QStringLiteral("AST 24 U/L"));
            Script(Extract, 200, lab, 400);
            form->pnlTool->btnExtract->click();
        } else {
            form->AddImageItem(QStringLiteral("a.jpg"), QStringLiteral("image/jpeg"),
                               Quarters(80, 60));
            Script(Upload, 200, R"({"extracted_text":"AST 24 U/L"})", 400);
            Script(Extract, 200, lab, 400);
            (mode == QLatin1String("ocr") ? form->pnlTool->btnOcrFull : form->pnlTool->btnExtract)
                ->click();
        }
        form->pnlTool->edtPatientId->setText(QStringLiteral("222"));
        WaitIdle(*form);
        QStringList got;
        for (int i = 0; i < names.size(); ++i)
            got << form->Items()[i].Filename;
        QCOMPARE(got, names);
        // The trend of the lab results window is the patient's the table was filed under;
        // its rows follow the account's items that the extraction read.
        if (mode != QLatin1String("ocr")) {
            QCOMPARE(FShownTrends.size(), 1);
            QCOMPARE(FShownTrends[0].PatientId, QStringLiteral("111"));
            QCOMPARE(FShownTrends[0].Folder, SaveFolder());
            QCOMPARE(FShownTrends[0].ItemOrder.value(0), QStringLiteral("AST"));
            QCOMPARE(FShownTrends[0].ItemOrder.size(), 8);
        }
    }

    // The box shows a bounded part of a long text; extraction reads all of it.
    void extractionReadsTheWholeText() {
        auto form = NewForm();
        const QString text =
            QStringLiteral("メモ\n").repeated(300000) + QStringLiteral("AST 24 U/L");
        form->AddTextItem(QStringLiteral("long.txt"), text);
        QVERIFY(form->pnlPreview->memoText->toPlainText().size() < text.size());
        Script(Extract, 200, R"({"results":[{"name":"AST","value":"24","unit":"U/L"}]})");
        form->pnlTool->btnExtract->click();
        WaitIdle(*form);
        const auto extracts = RequestsTo(Extract);
        QCOMPARE(extracts.size(), 1);
        QVERIFY(extracts[0].Body.contains("AST 24 U/L"));
    }

    void twoResultsInOneSecond() {
        auto form = NewForm();
        form->AddImageItem(QStringLiteral("a.jpg"), QStringLiteral("image/jpeg"), Quarters(80, 60));
        Script(Upload, 200, R"({"extracted_text":"one"})");
        Script(Upload, 200, R"({"extracted_text":"two"})");
        form->pnlTool->btnOcrFull->click();
        WaitIdle(*form);
        form->lvImages->setCurrentItem(form->lvImages->topLevelItem(1));
        form->pnlTool->btnOcrFull->click();
        WaitIdle(*form);
        QCOMPARE(form->Items()[0].SavedPath, SaveFolder() + "/OCR_" + Stamp + "_(1).txt");
        QCOMPARE(form->Items()[1].SavedPath, SaveFolder() + "/OCR_" + Stamp + ".txt");
    }

    // After a failure the window is usable at once and nothing shown has changed.
    void failures_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("status");
        QTest::newRow("wrong password")
            << "wrong password"
            << "full"
            << "解析に失敗しました: ログイン失敗: メールアドレスまたはパスワードが正しくありません";
        QTest::newRow("service error") << "upload 500"
                                       << "full"
                                       << "解析に失敗しました: 認識エンジンの障害";
        QTest::newRow("service unreachable") << "unreachable"
                                             << "rx"
                                             << "解析に失敗しました: ";
        QTest::newRow("extraction fails after recognition") << "extract 500"
                                                            << "extract"
                                                            << "抽出に失敗しました: HTTP 500";
        QTest::newRow("recognition finds no text") << "blank text"
                                                   << "extract"
                                                   << "文字を検出できませんでした。";
    }
    void failures() {
        QFETCH(QString, fault);
        QFETCH(QString, button);
        QFETCH(QString, status);
        auto form = NewForm();
        form->AddImageItem(QStringLiteral("a.jpg"), QStringLiteral("image/jpeg"),
                           Quarters(400, 300));
        SelectFraction(*form, 0.1, 0.1, 0.6, 0.6);
        const TRect before = form->pnlPreview->pbSelect->Selection().Sel();
        if (fault == QLatin1String("wrong password"))
            form->Connection()->edtPassword->setText(QStringLiteral("wrong"));
        if (fault == QLatin1String("upload 500"))
            Script(Upload, 500, R"({"detail":"認識エンジンの障害"})");
        if (fault == QLatin1String("unreachable"))
            form->Connection()->edtUrl->setText(QStringLiteral("http://127.0.0.1:1"));
        if (fault == QLatin1String("extract 500")) {
            Script(Upload, 200, R"({"extracted_text":"AST 24"})");
            Script(Extract, 500, "");
        }
        if (fault == QLatin1String("blank text"))
            Script(Upload, 200, R"({"extracted_text":" \n\t "})");
        const int itemsBefore = form->Items().size();
        (button == QLatin1String("full") ? form->pnlTool->btnOcrFull
         : button == QLatin1String("rx") ? form->pnlTool->btnRx
                                         : form->pnlTool->btnExtract)
            ->click();
        WaitIdle(*form);
        QVERIFY2(form->Connection()->lblStatus->text().startsWith(status),
                 qPrintable(form->Connection()->lblStatus->text()));
        QVERIFY(form->Connection()->lblStatus->text().size() >
                QStringLiteral("解析に失敗しました: ").size());
        QCOMPARE(StatusColor(*form), Maroon);
        QVERIFY(FMessages.isEmpty() && FShownTables.isEmpty());
        if (fault == QLatin1String("extract 500")) {
            QCOMPARE(form->Items().size(), itemsBefore + 1); // the recognised text stays listed
            return;
        }
        QCOMPARE(form->Items().size(), itemsBefore);
        QVERIFY(RequestsTo(Extract).isEmpty());
        QVERIFY(form->CurrentBitmap() != nullptr);
        QVERIFY(form->pnlPreview->pbSelect->Selection().HasSel());
        QCOMPARE(form->pnlPreview->pbSelect->Selection().Sel(), before);
        for (QPushButton* p :
             {form->pnlTool->btnOcrRegion, form->pnlTool->btnOcrFull, form->pnlTool->btnRx,
              form->pnlTool->btnExtract, form->pnlTool->btnItems})
            QVERIFY2(p->isEnabled(), qPrintable(p->text()));
    }

    void expiredTokenIsUnseen() {
        auto form = NewForm();
        form->AddImageItem(QStringLiteral("a.jpg"), QStringLiteral("image/jpeg"), Quarters(80, 60));
        Script(Upload, 200, R"({"extracted_text":"first"})");
        form->pnlTool->btnOcrFull->click();
        WaitIdle(*form);
        // The service forgets the token: one new sign-in and one retry, and the user
        // sees only the result.
        Script(Upload, 401, "");
        Script(Upload, 200, R"({"extracted_text":"second"})");
        form->lvImages->setCurrentItem(form->lvImages->topLevelItem(1));
        form->pnlTool->btnOcrFull->click();
        WaitIdle(*form);
        QCOMPARE(form->Items()[0].Text, QStringLiteral("second"));
        QCOMPARE(StatusColor(*form), Green);
        QCOMPARE(RequestsTo(QStringLiteral("/api/auth/login")).size(), 2);
        // The e-mail went trimmed, the password as typed.
        QVERIFY(RequestsTo(QStringLiteral("/api/auth/login"))[0].Body.contains(
            R"("email":"demo@example.com")"));
    }

    // The client follows the boxes: a recognition goes to the URL of its press.
    void clientFollowsTheUrl() {
        auto form = NewForm();
        form->AddImageItem(QStringLiteral("a.jpg"), QStringLiteral("image/jpeg"), Quarters(80, 60));
        Script(Upload, 200, R"({"extracted_text":"first"})");
        Script(Upload, 200, R"({"extracted_text":"second"})");
        form->pnlTool->btnOcrFull->click();
        WaitIdle(*form);
        QCOMPARE(form->Items()[0].Text, QStringLiteral("first"));
        const QString url = form->Connection()->edtUrl->text();
        form->Connection()->edtUrl->setText(QStringLiteral("http://127.0.0.1:1"));
        form->lvImages->setCurrentItem(form->lvImages->topLevelItem(1));
        form->pnlTool->btnOcrFull->click();
        WaitIdle(*form);
        QVERIFY(form->Connection()->lblStatus->text().startsWith(
            QStringLiteral("解析に失敗しました: ")));
        QCOMPARE(RequestsTo(Upload).size(), 1);
        form->Connection()->edtUrl->setText(url);
        form->pnlTool->btnOcrFull->click();
        WaitIdle(*form);
        QCOMPARE(form->Items()[0].Text, QStringLiteral("second"));
    }

    void nothingExtracted() {
        auto form = NewForm();
        form->AddTextItem(QStringLiteral("memo.txt"), QStringLiteral("本日は晴天なり"));
        const int items = form->Items().size();
        form->pnlTool->btnExtract->click();
        WaitIdle(*form);
        QCOMPARE(form->Connection()->lblStatus->text(),
                 QStringLiteral("検査項目を抽出しましたが、値を検出できませんでした。"));
        QCOMPARE(StatusColor(*form), Maroon);
        QCOMPARE(FMessages,
                 QStringList{QStringLiteral(
                     "検査値を検出できませんでした。\r\n選択範囲を検査値の表全体にするか、"
                     "「⚙ 抽出項目の設定」で項目名・別名をご確認ください。")});
        QVERIFY(FShownTables.isEmpty());
        QCOMPARE(form->Items().size(), items);
    }

    // Closing the window mid-task neither waits for the service nor delivers anything.
    void closeDuringATask() {
        auto form = NewForm();
        form->AddImageItem(QStringLiteral("a.jpg"), QStringLiteral("image/jpeg"), Quarters(80, 60));
        Script(Upload, 200, R"({"extracted_text":"too late"})", 20000);
        form->pnlTool->btnOcrFull->click();
        QTRY_COMPARE(RequestsTo(Upload).size(), 1);
        QPointer<TFormMain> watch(form.get());
        QVERIFY(form->close());
        form.reset();
        QVERIFY(watch.isNull());
        // The service would answer after 20 s; the cancelled call ends long before.
        QVERIFY(QThreadPool::globalInstance()->waitForDone(5000));
        QTest::qWait(100);
        QVERIFY(FMessages.isEmpty() && FShownTables.isEmpty());
        QVERIFY(!QDir(SaveFolder()).exists() || QDir(SaveFolder()).isEmpty());
    }

    // The whole way with scanlume-local's real recognition of a printed report.
    void realRecognitionOfAReport() {
        auto form = NewForm();
        form->AddImageItem(
            QStringLiteral("report.jpg"), QStringLiteral("image/jpeg"),
            Report({QStringLiteral("さくら内科クリニック"), QStringLiteral("AST 24 U/L"),
                    QStringLiteral("ALT 31 U/L"), QStringLiteral("HbA1c 6.4 %")}));
        form->pnlTool->btnExtract->click();
        QTRY_COMPARE_WITH_TIMEOUT(FShownTables.size(), 1, 90000);
        QStringList found;
        for (const TLabValue& v : FShownTables[0])
            found << v.Name + u'=' + v.Value;
        QVERIFY2(found.contains(QStringLiteral("AST=24")) &&
                     found.contains(QStringLiteral("ALT=31")) &&
                     found.contains(QStringLiteral("HbA1c=6.4")),
                 qPrintable(found.join(u' ')));
        QVERIFY(form->Items()[0].Text.contains(QStringLiteral("AST\t24\tU/L\r\n")));
    }
};

QTEST_MAIN(TestRecognitionActions)
#include "tst_recognitionactions.moc"

// The text and file commands of the main window with real files in temporary folders:
// copy, save as, the save folder, the item manager's sign-in, past files, and files or
// pictures dropped or pasted into the list.
#include "common/uClock.h"
#include "ui/fmMain.h"
#include "ui/uDesktop.h"
#include "ui/uDialogs.h"
#include "ui/uElidedLabel.h"
#include "ui/uFileCommands.h"
#include "ui/uMessages.h"
#include "ui/uPreviewWidget.h"

#include "uJpegFixture.h"
#include "uLocalService.h"
#include "uTestEnv.h"

#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QUrl>
#include <QtTest>

namespace {

const QByteArray Bom = "\xEF\xBB\xBF";

QByteArray ReadAll(const QString& APath) {
    QFile f(APath);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WriteFile(const QString& APath, const QByteArray& ABytes, const QDateTime& AModified = {}) {
    QDir().mkpath(QFileInfo(APath).path());
    QFile f(APath);
    if (!f.open(QIODevice::WriteOnly) || f.write(ABytes) != ABytes.size())
        return false;
    f.close();
    if (AModified.isValid()) {
        if (!f.open(QIODevice::ReadWrite))
            return false;
        f.setFileTime(AModified, QFileDevice::FileModificationTime);
    }
    return true;
}

QByteArray Png(int AWidth, int AHeight, QColor AColor = Qt::darkCyan) {
    QImage img(AWidth, AHeight, QImage::Format_RGB888);
    img.fill(AColor);
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, "PNG");
    return bytes;
}

QColor StatusColor(const TFormMain& AForm) {
    return AForm.Connection()->lblStatus->palette().color(QPalette::WindowText);
}

} // namespace

class TestFileCommands : public QObject {
    Q_OBJECT
    std::unique_ptr<TTestEnv> FEnv;
    TLocalService FService;
    QStringList FMessages;
    QStringList FOpened;                        // what the desktop was asked to open
    bool FDesktopOpens = true;                  // whether the desktop finds an application
    std::function<int(QDialog&)> FDialogAnswer; // how the next dialog is answered
    QList<QDialog*> FDialogs;                   // dialogs that ran (valid during the run only)
    int FDialogRuns = 0;

    std::unique_ptr<TFormMain> NewForm() {
        auto form = std::make_unique<TFormMain>();
        form->Connection()->edtUrl->setText(FService.BaseUrl());
        form->Connection()->edtEmail->setText(QStringLiteral("demo@example.com"));
        form->Connection()->edtPassword->setText(QStringLiteral("secret"));
        form->Connection()->edtFolder->setText(Folder());
        form->Connection()->chkAutoSave->setChecked(false);
        return form;
    }
    QString Folder() const { return FEnv->Root() + QStringLiteral("/save"); }
    QString Path(const QString& AName) const { return FEnv->Root() + u'/' + AName; }

private Q_SLOTS:
    void initTestCase() {
        Messages::SetHandler([this](QWidget*, const QString& AText) { FMessages << AText; });
        Desktop::SetOpener([this](const QString& APath) {
            FOpened << APath;
            return FDesktopOpens;
        });
        Dialogs::SetRunner([this](QDialog& ADialog) {
            ++FDialogRuns;
            return FDialogAnswer ? FDialogAnswer(ADialog) : int(QDialog::Rejected);
        });
        TClock::Set([] { return QDateTime(QDate(2026, 12, 10), QTime(9, 5, 7)); });
        QVERIFY(FService.Start());
    }
    void init() {
        FEnv = std::make_unique<TTestEnv>();
        FMessages.clear();
        FOpened.clear();
        FDesktopOpens = true;
        FDialogAnswer = nullptr;
        FDialogRuns = 0;
        FService.Reset();
        QApplication::clipboard()->clear();
    }

    // ---- copy

    void copyText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("copied");
        QTest::newRow("whole text, untrimmed")
            << " AST 24\nALT 31 " << 0 << 0 << " AST 24\r\nALT 31 ";
        QTest::newRow("three selected characters") << "0123456789" << 2 << 3 << "234";
        QTest::newRow("a selection over a line break") << "ab\ncd" << 1 << 3 << "b\r\nc";
    }
    void copyText() {
        QFETCH(QString, text);
        QFETCH(int, from);
        QFETCH(int, length);
        QFETCH(QString, copied);
        auto form = NewForm();
        form->AddTextItem(QStringLiteral("t.txt"), text);
        QApplication::clipboard()->clear();
        if (length > 0) {
            QTextCursor c = form->pnlPreview->memoText->textCursor();
            c.setPosition(from);
            c.setPosition(from + length, QTextCursor::KeepAnchor);
            form->pnlPreview->memoText->setTextCursor(c);
        }
        QVERIFY(form->pnlTool->btnCopyText->isEnabled());
        form->pnlTool->btnCopyText->click();
        QVERIFY(FMessages.isEmpty());
        QCOMPARE(QApplication::clipboard()->text(), copied);
        QCOMPARE(form->Connection()->lblStatus->text(),
                 QStringLiteral("クリップボードにコピーしました。"));
        QCOMPARE(StatusColor(*form), QColor(0, 128, 0));
    }

    void copyWithoutText_data() {
        QTest::addColumn<bool>("image");
        QTest::newRow("a picture is shown") << true;
        QTest::newRow("only blanks") << false;
    }
    void copyWithoutText() {
        QFETCH(bool, image);
        auto form = NewForm();
        if (image)
            form->AddImageItem(QStringLiteral("a.png"), QStringLiteral("image/png"), Png(20, 10));
        else
            form->AddTextItem(QStringLiteral("t.txt"), QStringLiteral(" \r\n\t"));
        const QString status = form->Connection()->lblStatus->text();
        form->FileCommands()->btnCopyTextClick();
        QCOMPARE(FMessages, QStringList{QStringLiteral("コピーするテキストがありません。")});
        QCOMPARE(form->Connection()->lblStatus->text(), status);
    }

    // ---- save as

    void saveAs_data() {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("proposed");
        QTest::newRow("text: mark and CR LF") << "text"
                                              << "out.txt"
                                              << "memo.txt";
        QTest::newRow("turned JPEG under a .png name: the received bytes") << "jpeg"
                                                                           << "out.png"
                                                                           << "IMG_1.jpg";
        QTest::newRow("no selection: the newest entry") << "none selected"
                                                        << "out.txt"
                                                        << "memo.txt";
        QTest::newRow("a sender's path is not proposed") << "climbing name"
                                                         << "out.jpg"
                                                         << "passwd";
    }
    void saveAs() {
        QFETCH(QString, entry);
        QFETCH(QString, target);
        QFETCH(QString, proposed);
        auto form = NewForm();
        const QByteArray jpeg = MakeJpeg(64, 48, TJpegExif{true, 6});
        if (entry == QLatin1String("climbing name")) {
            form->AddImageItem(QStringLiteral("../../etc/passwd"), QStringLiteral("image/jpeg"),
                               jpeg);
        } else {
            form->AddImageItem(QStringLiteral("IMG_1.jpg"), QStringLiteral("image/jpeg"), jpeg);
            form->pnlTool->btnRotR->click();
        }
        if (entry == QLatin1String("text") || entry == QLatin1String("none selected"))
            form->AddTextItem(QStringLiteral("memo.txt"), QStringLiteral("一行目\n二行目"));
        if (entry == QLatin1String("none selected"))
            form->lvImages->clearSelection();
        QStringList offered, filters;
        bool asSaveDialog = false;
        const QString out = Path(target);
        FDialogAnswer = [&](QDialog& ADialog) {
            auto& dialog = static_cast<QFileDialog&>(ADialog);
            offered = dialog.selectedFiles();
            filters = dialog.nameFilters();
            // Saving, asking before an overwrite, no extension added to what is typed.
            asSaveDialog = dialog.acceptMode() == QFileDialog::AcceptSave &&
                           !dialog.testOption(QFileDialog::DontConfirmOverwrite) &&
                           dialog.defaultSuffix().isEmpty();
            dialog.selectFile(out);
            return int(QDialog::Accepted);
        };
        const int items = form->Items().size();
        form->pnlTool->btnSaveAs->click();
        QCOMPARE(FDialogRuns, 1);
        QVERIFY(asSaveDialog);
        QCOMPARE(offered.size(), 1);
        QCOMPARE(QFileInfo(offered[0]).fileName(), proposed);
        QVERIFY(FMessages.isEmpty());
        if (entry == QLatin1String("jpeg") || entry == QLatin1String("climbing name")) {
            QCOMPARE(ReadAll(out), jpeg);
            QCOMPARE(filters.first(), QStringLiteral("画像ファイル (*.jpg *.jpeg *.png *.bmp)"));
        } else {
            QCOMPARE(ReadAll(out), Bom + QByteArray("一行目\r\n二行目"));
            QCOMPARE(filters.first(), QStringLiteral("テキストファイル (*.txt)"));
        }
        QCOMPARE(form->Items().size(), items);
    }

    void saveAsRefusals() {
        auto form = NewForm();
        form->pnlTool->btnSaveAs->click(); // an empty list: nothing at all
        QCOMPARE(FDialogRuns, 0);
        form->AddTextItem(QStringLiteral("memo.txt"), QStringLiteral("x"));
        form->pnlTool->btnSaveAs->click(); // cancelled
        QCOMPARE(FDialogRuns, 1);
        QVERIFY(FMessages.isEmpty());
        // A place that cannot be written: the system's reason, nothing left behind.
        const QString blocker = Path(QStringLiteral("file-not-folder"));
        QVERIFY(WriteFile(blocker, "x"));
        FDialogAnswer = [&](QDialog& ADialog) {
            static_cast<QFileDialog&>(ADialog).selectFile(blocker + QStringLiteral("/out.txt"));
            return int(QDialog::Accepted);
        };
        form->pnlTool->btnSaveAs->click();
        QCOMPARE(FMessages.size(), 1);
        QVERIFY(!FMessages[0].isEmpty());
        QCOMPARE(QDir(FEnv->Root()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"file-not-folder"});
        QCOMPARE(form->Items().size(), 1);
    }

    // ---- the save folder

    void browse() {
        auto form = NewForm();
        const QString chosen = Path(QStringLiteral("chosen"));
        QDir().mkpath(chosen);
        FDialogAnswer = [&](QDialog& ADialog) {
            auto& dialog = static_cast<QFileDialog&>(ADialog);
            if (dialog.windowTitle() != QStringLiteral("保存フォルダを選択してください") ||
                dialog.fileMode() != QFileDialog::Directory)
                return int(QDialog::Rejected);
            if (QDir(dialog.directory()) != QDir(Folder()).absolutePath() &&
                QDir(Folder()).exists())
                return int(QDialog::Rejected);
            dialog.selectFile(chosen);
            return int(QDialog::Accepted);
        };
        QDir().mkpath(Folder());
        form->Connection()->btnBrowse->click();
        QCOMPARE(form->Connection()->edtFolder->text(), QDir::toNativeSeparators(chosen));
        FDialogAnswer = nullptr; // cancelled: unchanged
        form->Connection()->btnBrowse->click();
        QCOMPARE(form->Connection()->edtFolder->text(), QDir::toNativeSeparators(chosen));
    }

    void openFolder() {
        auto form = NewForm();
        const QString nested = Path(QStringLiteral("a/b/c"));
        form->Connection()->edtFolder->setText(QStringLiteral("  ") + nested + QStringLiteral(" "));
        form->pnlTool->btnOpenFolder->click();
        QVERIFY(QFileInfo(nested).isDir());
        QCOMPARE(FOpened, QStringList{nested});
        form->Connection()->edtFolder->setText(QStringLiteral(" "));
        form->pnlTool->btnOpenFolder->click();
        QCOMPARE(FOpened.size(), 1);
        FDesktopOpens = false;
        form->Connection()->edtFolder->setText(nested);
        form->pnlTool->btnOpenFolder->click();
        QCOMPARE(form->Connection()->lblStatus->text(),
                 QStringLiteral("保存フォルダを開けませんでした: ") + nested);
    }

    void saveFolderPath() {
        auto form = NewForm();
        form->Connection()->edtFolder->setText(QStringLiteral(" /x/y "));
        QCOMPARE(form->FileCommands()->SaveFolderPath(), QStringLiteral("/x/y"));
        form->Connection()->edtFolder->setText(QString());
        QCOMPARE(form->FileCommands()->SaveFolderPath(),
                 FEnv->DocumentsDir() + QStringLiteral("/ScanlumeReceiver"));
    }

    // ---- the item manager's sign-in

    void ensureSignedIn_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("error");
        QTest::newRow("signs in") << ""
                                  << "secret" << true << "";
        QTest::newRow("wrong password")
            << ""
            << "wrong" << false << "メールアドレスまたはパスワードが正しくありません";
        QTest::newRow("no password")
            << ""
            << "" << false << "サーバーURL・メールアドレス・パスワードを入力してください。";
    }
    void ensureSignedIn() {
        QFETCH(QString, url);
        QFETCH(QString, password);
        QFETCH(bool, ok);
        QFETCH(QString, error);
        auto form = NewForm();
        form->Connection()->edtPassword->setText(password);
        QString e;
        QCOMPARE(form->FileCommands()->EnsureSignedIn(e), ok);
        QCOMPARE(e, error);
        if (ok) {
            // Signed in already: no second sign-in.
            QVERIFY(form->FileCommands()->EnsureSignedIn(e));
            int logins = 0;
            for (const auto& r : FService.Requests())
                logins += r.Path == "/api/auth/login";
            QCOMPARE(logins, 1);
        }
    }

    void itemsCommandFailures() {
        auto form = NewForm();
        form->Connection()->edtPassword->setText(QStringLiteral("wrong"));
        form->pnlTool->btnItems->click();
        QCOMPARE(FMessages,
                 QStringList{QStringLiteral("メールアドレスまたはパスワードが正しくありません")});
        QCOMPARE(FDialogRuns, 0);
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
        // A network failure is reported and the cursor comes back.
        auto other = NewForm();
        other->Connection()->edtUrl->setText(QStringLiteral("http://127.0.0.1:1"));
        FMessages.clear();
        other->pnlTool->btnItems->click();
        QCOMPARE(FMessages.size(), 1);
        QVERIFY(!FMessages[0].isEmpty());
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    }

    // ---- past files

    void openPastFile_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("isText");
        QTest::addColumn<QString>("text");
        QTest::newRow("result text with a mark and LF lines")
            << "12345_検査_20250314_091502.txt"
            << QByteArray(Bom + "検査実施日\t2024-05-01\nAST\t24\n") << true
            << "検査実施日\t2024-05-01\r\nAST\t24\r\n";
        QTest::newRow("a text in capitals, CR lines")
            << "MEMO.TXT" << QByteArray("a\rb") << true << "a\r\nb";
        QTest::newRow("Shift_JIS without a mark")
            << "sjis.txt" << QByteArray("\x8C\x9F\x8D\xB8\r\nAST") << true << "検査\r\nAST";
        QTest::newRow("UTF-16 with its mark")
            << "wide.txt" << QByteArray("\xFF\xFE\x1C\x69\xFB\x67", 6) << true << "検査";
        QTest::newRow("a PNG becomes an image entry") << "scan.png" << Png(30, 20) << false << "";
    }
    void openPastFile() {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, isText);
        QFETCH(QString, text);
        auto form = NewForm();
        const QString path = Folder() + QStringLiteral("/sub/") + name;
        const QDateTime modified(QDate(2025, 3, 14), QTime(9, 15, 2));
        QVERIFY(WriteFile(path, bytes, modified));
        form->FileCommands()->OpenPastFile(path);
        QCOMPARE(form->Items().size(), 1);
        const TReceivedImage& item = form->Items()[0];
        QCOMPARE(item.Filename, name);
        QCOMPARE(item.SavedPath, path);
        QCOMPARE(item.IsText, isText);
        QCOMPARE(item.ContentType,
                 isText ? QStringLiteral("text/plain") : QStringLiteral("image/jpeg"));
        QCOMPARE(item.Text, text);
        QCOMPARE(item.Data, isText ? QByteArray() : bytes);
        QCOMPARE(item.ReceivedAt, modified);
        QCOMPARE(form->lvImages->topLevelItem(0)->text(0), QStringLiteral("09:15"));
        QCOMPARE(form->lvImages->topLevelItem(0)->text(2), QStringLiteral("保存済"));
        QCOMPARE(form->Connection()->lblStatus->text(),
                 QStringLiteral("過去のファイルを開きました: ") + path);
        QCOMPARE(form->Connection()->lblStatus->toolTip(), path);
        QCOMPARE(StatusColor(*form), QColor(0, 128, 0));
        if (isText) {
            QVERIFY(!form->pnlPreview->memoText->isHidden());
            QCOMPARE(form->pnlPreview->memoText->toPlainText().at(0), text.at(0)); // no stray mark
        } else {
            QVERIFY(form->CurrentBitmap() != nullptr);
            QCOMPARE(form->CurrentBitmap()->Width(), 30);
        }
        // Nothing is written again.
        QCOMPARE(QDir(Folder() + QStringLiteral("/sub")).entryList(QDir::Files).size(), 1);
        QCOMPARE(FMessages, QStringList());
        // Save as writes the file's own bytes, whatever they were decoded as.
        const QString out = Path(QStringLiteral("copy.out"));
        FDialogAnswer = [&](QDialog& ADialog) {
            static_cast<QFileDialog&>(ADialog).selectFile(out);
            return int(QDialog::Accepted);
        };
        form->pnlTool->btnSaveAs->click();
        QCOMPARE(ReadAll(out), bytes);
    }

    void openPastPdfAndVanished() {
        auto form = NewForm();
        const QString pdf = Path(QStringLiteral("SCAN.PDF"));
        QVERIFY(WriteFile(pdf, "%PDF-1.4"));
        form->FileCommands()->OpenPastFile(pdf);
        QCOMPARE(FOpened, QStringList{pdf});
        QVERIFY(form->Items().isEmpty());
        QCOMPARE(form->Connection()->lblStatus->text(),
                 QStringLiteral("PDFを既定のアプリで開きました: ") + pdf);
        QCOMPARE(StatusColor(*form), QColor(0, 128, 0));
        // No application took it: that is said, in the failure colour.
        FDesktopOpens = false;
        form->FileCommands()->OpenPastFile(pdf);
        QCOMPARE(form->Connection()->lblStatus->text(),
                 QStringLiteral("PDFを開けるアプリが見つかりませんでした: ") + pdf);
        QCOMPARE(StatusColor(*form), QColor(128, 0, 0));
        FDesktopOpens = true;

        const QString gone = Path(QStringLiteral("gone.jpg"));
        form->FileCommands()->OpenPastFile(gone);
        QVERIFY(form->Items().isEmpty());
        QVERIFY(form->Connection()->lblStatus->text().startsWith(
            QStringLiteral("ファイルを開けませんでした: ")));
        QCOMPARE(StatusColor(*form), QColor(128, 0, 0));
        QCOMPARE(FMessages.size(), 1);
        QVERIFY(FMessages[0].startsWith(QStringLiteral("ファイルを開けませんでした:\r\n") + gone +
                                        QStringLiteral("\r\n")));
        QVERIFY(FMessages[0].size() >
                (QStringLiteral("ファイルを開けませんでした:\r\n") + gone + QStringLiteral("\r\n"))
                    .size());
    }

    // ---- drop and paste

    void dropFiles() {
        auto form = NewForm();
        const QString jpg = Path(QStringLiteral("desk/photo.jpg"));
        const QString txt = Path(QStringLiteral("desk/note.txt"));
        const QString pdf = Path(QStringLiteral("desk/report.pdf"));
        const QByteArray jpeg = MakeJpeg(64, 48, TJpegExif{true, 6});
        QVERIFY(WriteFile(jpg, jpeg) && WriteFile(txt, "メモ\n") && WriteFile(pdf, "%PDF"));
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(jpg), QUrl::fromLocalFile(txt), QUrl::fromLocalFile(pdf),
                      QUrl(QStringLiteral("https://example.com/x.jpg"))});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(form->lvImages->viewport(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(form->lvImages->viewport(), &drop);
        QVERIFY(drop.isAccepted());
        // The PDF went to its application; the picture and the text are listed, newest first.
        QCOMPARE(FOpened, QStringList{pdf});
        QCOMPARE(form->Items().size(), 2);
        QCOMPARE(form->Items()[0].Filename, QStringLiteral("note.txt"));
        QCOMPARE(form->Items()[1].Filename, QStringLiteral("photo.jpg"));
        QCOMPARE(form->Items()[1].Data, jpeg);
        // Not in the save folder, so not marked as saved, and nothing written there.
        QCOMPARE(form->Items()[1].SavedPath, QString());
        QCOMPARE(form->lvImages->topLevelItem(1)->text(2), QString());
        QVERIFY(!QDir(Folder()).exists());
        // The picture can be shown upright and recognised like a received one.
        form->lvImages->setCurrentItem(form->lvImages->topLevelItem(1));
        QCOMPARE(form->CurrentBitmap()->Width(), 48);
        QVERIFY(form->pnlTool->btnOcrFull->isEnabled());

        QMimeData other;
        other.setText(QStringLiteral("just text"));
        QDragEnterEvent refused(QPoint(10, 10), Qt::CopyAction, &other, Qt::LeftButton,
                                Qt::NoModifier);
        QApplication::sendEvent(form->lvImages->viewport(), &refused);
        QVERIFY(!refused.isAccepted());
    }

    void pasteIntoTheList() {
        auto form = NewForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QImage picture(40, 30, QImage::Format_RGB32);
        picture.fill(Qt::red);
        QApplication::clipboard()->setImage(picture);
        form->lvImages->setFocus();
        QTest::keyClick(form->lvImages, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(form->Items().size(), 1);
        const TReceivedImage& item = form->Items()[0];
        QCOMPARE(item.Filename, QStringLiteral("貼り付け_20261210_090507.png"));
        QCOMPARE(item.ContentType, QStringLiteral("image/png"));
        QVERIFY(item.SavedPath.isEmpty());
        QCOMPARE(QImage::fromData(item.Data, "PNG").size(), QSize(40, 30));
        QCOMPARE(form->CurrentBitmap()->Width(), 40);
        QVERIFY(!QDir(Folder()).exists());

        // Files copied in a file manager paste as files.
        const QString png = Path(QStringLiteral("copied.png"));
        QVERIFY(WriteFile(png, Png(8, 8)));
        auto* mime = new QMimeData;
        mime->setUrls({QUrl::fromLocalFile(png)});
        QApplication::clipboard()->setMimeData(mime);
        QTest::keyClick(form->lvImages, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(form->Items().size(), 2);
        QCOMPARE(form->Items()[0].Filename, QStringLiteral("copied.png"));
    }
};

QTEST_MAIN(TestFileCommands)
#include "tst_filecommands.moc"

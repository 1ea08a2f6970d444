// The main window on the offscreen platform: layout metrics from the font in use,
// receiving through a real scanlume-local, the preview, and the files it saves.
#include "common/uClock.h"
#include "files/uSavedFiles.h"
#include "imaging/uBitmap.h"
#include "items/uPastFile.h"
#include "platform/uMemory.h"
#include "settings/uPaths.h"
#include "settings/uSettings.h"
#include "ui/fmMain.h"
#include "ui/uElidedLabel.h"
#include "ui/uMessages.h"
#include "ui/uNotifier.h"
#include "ui/uPreviewWidget.h"
#include "ui/uSelectionOverlay.h"

#include "uJpegFixture.h"
#include "uLocalService.h"
#include "uTestEnv.h"

#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QSplitter>
#include <QSystemTrayIcon>
#include <QTreeWidget>
#include <QtTest>

#include <sys/resource.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define PICTOPORT_HAS_SANITIZER 1
#endif
#endif
#ifndef PICTOPORT_HAS_SANITIZER
#define PICTOPORT_HAS_SANITIZER 0
#endif
#include <unistd.h>

namespace {

bool WriteFileBytes(const QString& APath, const QByteArray& ABytes) {
    QFile file(APath);
    return file.open(QIODevice::WriteOnly) && file.write(ABytes) == ABytes.size();
}

QByteArray ReadAll(const QString& APath) {
    QFile f(APath);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray Png(int AWidth, int AHeight) {
    QImage img(AWidth, AHeight, QImage::Format_RGB888);
    img.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, "PNG");
    return bytes;
}

QColor StatusColor(const TFormMain& AForm) {
    return AForm.Connection()->lblStatus->palette().color(QPalette::WindowText);
}

// Where the marker block (the stored top-left corner) lies in the shown bitmap.
QString MarkerCorner(const TBitmap24& ABitmap) {
    const int w = ABitmap.Width(), h = ABitmap.Height();
    const uint8_t* corners[4] = {ABitmap.Row(1) + 3, ABitmap.Row(1) + (w - 2) * 3,
                                 ABitmap.Row(h - 2) + 3, ABitmap.Row(h - 2) + (w - 2) * 3};
    const char* names[4] = {"top-left", "top-right", "bottom-left", "bottom-right"};
    for (int i = 0; i < 4; ++i) {
        if (IsMarkerPixel(corners[i]))
            return QString::fromLatin1(names[i]);
    }
    return QStringLiteral("none");
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
    std::unique_ptr<TTestEnv> FEnv;
    QStringList FMessages;
    TLocalService FService;

    void WriteSettings(TAppSettings ASettings) { ASettings.Save(); }
    TAppSettings DefaultSettings() {
        TAppSettings s;
        s.Load();
        return s;
    }

private Q_SLOTS:
    void initTestCase() {
        Messages::SetHandler([this](QWidget*, const QString& AText) { FMessages << AText; });
        TClock::Set([] { return QDateTime(QDate(2026, 12, 10), QTime(9, 5, 7)); });
        QVERIFY(FService.Start());
    }
    void init() {
        FEnv = std::make_unique<TTestEnv>();
        FMessages.clear();
        FService.Reset();
    }

    // ---- layout

    void layoutMetrics() {
        TFormMain form;
        const int h = form.LineHeight();
        QVERIFY(h > 0);
        QCOMPARE(h, QFontMetrics(form.font()).height());
        QCOMPARE(form.FEditH, h + 9);
        QCOMPARE(form.FBtnH, h + 13);
        const int r = 9 + form.FEditH;
        QCOMPARE(form.windowTitle(), QStringLiteral("Pictoport（Scanlume PC受信）"));
        QCOMPARE(form.size(), QSize(1100, 720));
        QCOMPARE(form.Connection()->grpSettings->title(), QStringLiteral(" 接続設定 "));
        QCOMPARE(form.Connection()->grpSettings->height(), 22 + 4 * r + 12);
        QCOMPARE(form.Connection()->grpSettings->width(), 1100);
        const QList<QLineEdit*> edits{form.Connection()->edtUrl, form.Connection()->edtEmail,
                                      form.Connection()->edtPassword, form.Connection()->edtFolder};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(edits[i]->geometry(),
                     QRect(form.Connection()->EditLeft, 22 + i * r, 400, form.FEditH));
        }
        QCOMPARE(form.Connection()->edtPassword->echoMode(), QLineEdit::Password);
        int labelW = 0;
        for (const char* c : {"サーバーURL", "メールアドレス", "パスワード", "保存フォルダ"})
            labelW = std::max(labelW, form.TextWidthOf(QString::fromUtf8(c)));
        QCOMPARE(form.Connection()->LabelWidth, labelW + 8);
        QCOMPARE(form.Connection()->EditLeft, 16 + form.Connection()->LabelWidth + 10);
        QCOMPARE(form.Connection()->btnBrowse->geometry().topLeft(),
                 QPoint(form.Connection()->EditLeft + 406, 22 + 3 * r));
        const int checkX = form.Connection()->btnBrowse->geometry().right() + 1 + 6 + 24;
        const QList<QCheckBox*> checks{form.Connection()->chkAutoSave,
                                       form.Connection()->chkAutoConnect,
                                       form.Connection()->chkRunAtStartup};
        // The sign-in here is not a Windows one.
        QCOMPARE(form.Connection()->chkRunAtStartup->text(),
                 QStringLiteral("サインイン時にアプリを起動する"));
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(
                checks[i]->geometry(),
                QRect(checkX, 26 + i * r, form.TextWidthOf(checks[i]->text()) + 26, form.FEditH));
        }
        QCOMPARE(form.Connection()->pnlControl->geometry(),
                 QRect(0, form.Connection()->grpSettings->height(), 1100, 18 + form.FBtnH));
        QCOMPARE(form.Connection()->btnConnect->geometry().topLeft(), QPoint(16, 9));
        QCOMPARE(form.Connection()->btnStop->geometry().top(), 9);
        QCOMPARE(form.lvImages->width(), form.TextWidthOf(QStringLiteral("00:00")) + 20 + 150 +
                                             form.TextWidthOf(QStringLiteral("保存済")) + 18 + 26);
        // Tool panel rows start at 5, then one button height and 6 further down each.
        QCOMPARE(form.pnlTool->btnRotL->y(), 5);
        QCOMPARE(form.pnlTool->btnOcrRegion->geometry().topLeft(), QPoint(8, 5 + form.FBtnH + 6));
        QCOMPARE(form.pnlTool->btnSaveAs->geometry().topLeft(),
                 QPoint(8, 5 + 2 * (form.FBtnH + 6)));
        QCOMPARE(form.pnlTool->height(), form.pnlTool->btnSaveAs->y() + form.FBtnH + 8);
    }

    void buttonWidths_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("minWidth");
        QTest::newRow("browse") << "btnBrowse"
                                << "参照..." << 70;
        QTest::newRow("connect") << "btnConnect"
                                 << "▶ 受信開始" << 110;
        QTest::newRow("stop") << "btnStop"
                              << "■ 停止" << 80;
        QTest::newRow("rotate left") << "btnRotL"
                                     << "↺ 左回転" << 70;
        QTest::newRow("rotate right") << "btnRotR"
                                      << "↻ 右回転" << 70;
        QTest::newRow("ocr region") << "btnOcrRegion"
                                    << "🔍 選択範囲をテキスト化" << 150;
        QTest::newRow("ocr full") << "btnOcrFull"
                                  << "画像全体をテキスト化" << 130;
        QTest::newRow("prescription") << "btnRx"
                                      << "💊 処方を抽出" << 110;
        QTest::newRow("extract") << "btnExtract"
                                 << "🧪 検査項目抽出" << 120;
        QTest::newRow("save as") << "btnSaveAs"
                                 << "名前を付けて保存..." << 130;
        QTest::newRow("open folder") << "btnOpenFolder"
                                     << "保存フォルダを開く" << 130;
        QTest::newRow("copy") << "btnCopyText"
                              << "📋 テキストをコピー" << 140;
        QTest::newRow("items") << "btnItems"
                               << "⚙ 抽出項目の設定..." << 140;
        QTest::newRow("history") << "btnHistory"
                                 << "🗂 過去のファイル..." << 140;
    }
    void buttonWidths() {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(int, minWidth);
        TFormMain form;
        QPushButton* b = nullptr;
        for (QPushButton* candidate : form.findChildren<QPushButton*>()) {
            if (candidate->text() == caption)
                b = candidate;
        }
        QVERIFY2(b != nullptr, qPrintable(caption));
        QCOMPARE(b->width(), std::max(form.TextWidthOf(caption) + 24, minWidth));
        QCOMPARE(b->height(), form.FBtnH);
        Q_UNUSED(name);
    }

    void initialStates() {
        TFormMain form;
        for (QPushButton* b :
             {form.Connection()->btnStop, form.pnlTool->btnOcrRegion, form.pnlTool->btnOcrFull,
              form.pnlTool->btnRx, form.pnlTool->btnExtract, form.pnlTool->btnCopyText})
            QVERIFY2(!b->isEnabled(), qPrintable(b->text()));
        for (QPushButton* b :
             {form.Connection()->btnConnect, form.Connection()->btnBrowse, form.pnlTool->btnRotL,
              form.pnlTool->btnRotR, form.pnlTool->btnSaveAs, form.pnlTool->btnOpenFolder,
              form.pnlTool->btnItems, form.pnlTool->btnHistory})
            QVERIFY2(b->isEnabled(), qPrintable(b->text()));
        QVERIFY(form.pnlPreview->pbSelect->isHidden());
        QVERIFY(form.pnlPreview->memoText->isHidden());
        QVERIFY(!form.pnlPreview->imgPreview->isHidden());
        QCOMPARE(form.Connection()->lblStatus->text(), QStringLiteral("停止中"));
        QCOMPARE(form.lvImages->headerItem()->text(0), QStringLiteral("時刻"));
        QCOMPARE(form.lvImages->headerItem()->text(1), QStringLiteral("ファイル名"));
        QCOMPARE(form.lvImages->headerItem()->text(2), QStringLiteral("保存"));
        QCOMPARE(form.pnlTool->lblHint->text(),
                 QStringLiteral("ヒント: 傾きは回転で補正→対象部分をドラッグで囲む"));
        QCOMPARE(form.pnlTool->lblPatientId->text(), QStringLiteral("患者ID(任意)"));
    }

    // The notification area's menu: show, the version, and quit last, apart from the others.
    void trayMenuShowsTheVersion() {
        TFormMain form;
        QMenu* menu = form.TrayIcon->contextMenu();
        QVERIFY(menu);
        QStringList texts;
        for (QAction* action : menu->actions())
            texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
        QCOMPARE(texts, (QStringList{"表示(&S)", "バージョン情報(&A)", "-", "終了(&X)"}));
        menu->actions().at(1)->trigger();
        QCOMPARE(FMessages.size(), 1);
        QVERIFY2(FMessages.first().startsWith(QStringLiteral("Pictoport " PICTOPORT_VERSION)),
                 qPrintable(FMessages.first()));
    }

    // Qt scales device-independent lengths: at 150 % the window is 1.5 times as large
    // in device pixels. (The same program runs again with QT_SCALE_FACTOR=1.5.)
    void physicalSizeFollowsScale() {
        TFormMain form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const qreal dpr = form.devicePixelRatioF();
        const qreal expected = qEnvironmentVariableIsSet("QT_SCALE_FACTOR")
                                   ? qEnvironmentVariable("QT_SCALE_FACTOR").toDouble()
                                   : 1.0;
        QCOMPARE(dpr, expected);
        QCOMPARE(QSize(qRound(form.width() * dpr), qRound(form.height() * dpr)),
                 QSize(qRound(1100 * expected), qRound(720 * expected)));
    }

    void largeFontWrapsButtons() {
        TFormMain form(nullptr, 34);
        // Each wrapped row adds a button height and 6; nothing starts right of the edge
        // unless it starts its row.
        const int rowPitch = form.FBtnH + 6;
        const int rows = (form.pnlTool->btnHistory->y() - 5) / rowPitch + 1;
        QVERIFY2(rows > 3, qPrintable(QString::number(rows)));
        QCOMPARE(form.pnlTool->height(), form.pnlTool->btnHistory->y() + form.FBtnH + 8);
        for (QPushButton* b : form.pnlTool->findChildren<QPushButton*>()) {
            QCOMPARE((b->y() - 5) % rowPitch, 0);
            if (b->x() > 8)
                QVERIFY(b->geometry().right() + 1 <= form.pnlTool->width() - 8);
        }
    }

    void narrowingShortensStatusOnly() {
        TFormMain form;
        form.show();
        const QRect stop = form.Connection()->btnStop->geometry();
        const int wide = form.Connection()->lblStatus->width();
        form.resize(700, 720);
        QCOMPARE(form.Connection()->lblStatus->width(), wide - 400);
        QCOMPARE(form.Connection()->btnStop->geometry(), stop);
    }

    // ---- receiving session

    void validation_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("password");
        QTest::newRow("no url") << "  "
                                << "a@b"
                                << "pw";
        QTest::newRow("no email") << "http://x"
                                  << "\t"
                                  << "pw";
        QTest::newRow("no password") << "http://x"
                                     << "a@b"
                                     << "";
    }
    void validation() {
        QFETCH(QString, url);
        QFETCH(QString, email);
        QFETCH(QString, password);
        TFormMain form;
        form.Connection()->edtUrl->setText(url);
        form.Connection()->edtEmail->setText(email);
        form.Connection()->edtPassword->setText(password);
        form.Connection()->btnConnect->click();
        QCOMPARE(FMessages, QStringList{QStringLiteral(
                                "サーバーURL・メールアドレス・パスワードを入力してください。")});
        QVERIFY(!form.IsReceiving());
        QVERIFY(form.Connection()->btnConnect->isEnabled());
        QVERIFY(!QFile::exists(IniPath())); // settings are not saved
    }

    void autoConnectAtStart_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("messages");
        QTest::addColumn<bool>("receiving");
        QTest::newRow("no password: silently stopped") << "http://127.0.0.1:1"
                                                       << "" << 0 << false;
        QTest::newRow("no url: the validation message") << ""
                                                        << "pw" << 1 << false;
        QTest::newRow("complete: receiving") << "http://127.0.0.1:1"
                                             << "pw" << 0 << true;
    }
    void autoConnectAtStart() {
        QFETCH(QString, url);
        QFETCH(QString, password);
        QFETCH(int, messages);
        QFETCH(bool, receiving);
        TAppSettings s = DefaultSettings();
        s.ServerUrl = url;
        s.Email = QStringLiteral("a@b");
        s.Password = password;
        s.AutoConnect = true;
        WriteSettings(s);
        TFormMain form;
        // The stored password opens on another thread; connecting follows it.
        QTRY_COMPARE(FMessages.size(), messages);
        QTRY_COMPARE(form.IsReceiving(), receiving);
        QCOMPARE(form.Connection()->btnStop->isEnabled(), receiving);
        QCOMPARE(form.Connection()->edtUrl->isEnabled(), !receiving);
    }

    void receivesAndSaves() {
        TFormMain form;
        TPollTimings t;
        t.WaitSeconds = 1;
        form.SetPollTimings(t);
        QSignalSpy announced(form.Notifier(), &TNotifier::Announced);
        const QString folder = FEnv->Root() + QStringLiteral("/scans/新しいフォルダ");
        form.Connection()->edtUrl->setText(FService.BaseUrl() + QStringLiteral("/"));
        form.Connection()->edtEmail->setText(QStringLiteral("  demo@example.com "));
        form.Connection()->edtPassword->setText(QStringLiteral("secret"));
        form.Connection()->edtFolder->setText(folder);
        form.pnlTool->edtPatientId->setText(QStringLiteral("00-12"));
        form.Connection()->chkRunAtStartup->setChecked(true);
        form.Connection()->btnConnect->click();
        QVERIFY(form.IsReceiving());
        QVERIFY(!form.Connection()->btnConnect->isEnabled() &&
                form.Connection()->btnStop->isEnabled());
        QVERIFY(!form.Connection()->edtUrl->isEnabled() &&
                form.Connection()->edtFolder->isEnabled() &&
                form.Connection()->chkAutoSave->isEnabled());
        QTRY_COMPARE(form.Connection()->lblStatus->text(),
                     QStringLiteral("受信中（スマートフォンから送信できます）"));
        QCOMPARE(StatusColor(form), QColor(0, 128, 0));
        // Starting saved the settings and wrote the autostart entry.
        TAppSettings saved = DefaultSettings();
        QCOMPARE(saved.Email, QStringLiteral("demo@example.com"));
        QCOMPARE(saved.Password, QStringLiteral("secret"));
        QVERIFY(QFile::exists(FEnv->ConfigHome() +
                              QStringLiteral("/autostart/ScanlumeReceiver.desktop")));

        const QByteArray jpeg = MakeJpeg(64, 48, TJpegExif{true, 6});
        const QString user = QStringLiteral("demo@example.com:secret");
        QCOMPARE(FService.SendFile(user, QStringLiteral("IMG_1.jpg"), "image/jpeg", jpeg), 202);
        QTRY_COMPARE(form.Items().size(), 1);
        QCOMPARE(FService.SendFile(user, QStringLiteral("IMG_1.jpg"), "image/jpeg", jpeg), 202);
        QTRY_COMPARE(form.Items().size(), 2);
        QCOMPARE(form.Items()[0].SavedPath, folder + QStringLiteral("/pt0012_IMG_1_(1).jpg"));
        QCOMPARE(form.Items()[1].SavedPath, folder + QStringLiteral("/pt0012_IMG_1.jpg"));
        QCOMPARE(ReadAll(form.Items()[0].SavedPath), jpeg);
        QCOMPARE(ReadAll(form.Items()[1].SavedPath), jpeg);
        QCOMPARE(form.lvImages->topLevelItem(0)->text(0), QStringLiteral("09:05"));
        QCOMPARE(form.lvImages->topLevelItem(0)->text(1), QStringLiteral("IMG_1.jpg"));
        QCOMPARE(form.lvImages->topLevelItem(0)->text(2), QStringLiteral("保存済"));
        QCOMPARE(form.lvImages->currentItem(), form.lvImages->topLevelItem(0));
        // Shown upright: stored 64 x 48 with orientation 6 is 48 x 64 on screen.
        QVERIFY(form.CurrentBitmap() != nullptr);
        QCOMPARE(QSize(form.CurrentBitmap()->Width(), form.CurrentBitmap()->Height()),
                 QSize(48, 64));
        QCOMPARE(announced.size(), 2);
        QCOMPARE(announced[0][0].toString(), QStringLiteral("画像を受信しました"));
        QCOMPARE(announced[0][1].toString(), QStringLiteral("IMG_1.jpg"));

        QCOMPARE(FService.SendText(user, QStringLiteral("一行目\n二行目\r三行目")), 202);
        QTRY_COMPARE(form.Items().size(), 3);
        const TReceivedImage& text = form.Items()[0];
        QVERIFY(text.IsText);
        QCOMPARE(text.Text, QStringLiteral("一行目\r\n二行目\r\n三行目"));
        QCOMPARE(text.SavedPath, folder + QStringLiteral("/result.txt"));
        QCOMPARE(ReadAll(text.SavedPath), "\xEF\xBB\xBF" + text.Text.toUtf8());
        QCOMPARE(QApplication::clipboard()->text(), text.Text);
        QCOMPARE(form.Connection()->lblStatus->text(),
                 QStringLiteral("クリップボードにコピー済 ／ 保存先: ") + text.SavedPath);
        QCOMPARE(form.Connection()->lblStatus->toolTip(), text.SavedPath);
        QVERIFY(!form.pnlPreview->memoText->isHidden());
        QCOMPARE(announced.last()[0].toString(),
                 QStringLiteral("テキストを取得（クリップボードにコピーしました）"));
        QCOMPARE(announced.last()[1].toString(), QStringLiteral("result.txt"));
    }

    // Stops and quick restarts while the phone sends: every item arrives once, none is
    // lost to a stopped worker, and no status of a stopped worker shows.
    void stopAndRestartLoseNothing() {
        TFormMain form;
        TPollTimings t;
        t.WaitSeconds = 20;
        form.SetPollTimings(t);
        form.Connection()->edtUrl->setText(FService.BaseUrl());
        form.Connection()->edtEmail->setText(QStringLiteral("demo@example.com"));
        form.Connection()->edtPassword->setText(QStringLiteral("secret"));
        form.Connection()->chkAutoSave->setChecked(false);
        const QString user = QStringLiteral("demo@example.com:secret");
        form.Connection()->btnConnect->click();
        QTRY_COMPARE(form.Connection()->lblStatus->text(),
                     QStringLiteral("受信中（スマートフォンから送信できます）"));
        for (int i = 0; i < 4; ++i) {
            QTest::qWait(150); // the long poll is outstanding
            form.Connection()->btnStop->click();
            QCOMPARE(form.Connection()->lblStatus->text(), QStringLiteral("停止中"));
            QVERIFY(form.Connection()->btnConnect->isEnabled() &&
                    !form.Connection()->btnStop->isEnabled() &&
                    form.Connection()->edtUrl->isEnabled());
            // Sent right after the stop: the old poll either hands it over or leaves it.
            QCOMPARE(
                FService.SendFile(user, QStringLiteral("late%1.jpg").arg(i), "image/jpeg", "x"),
                202);
            QTest::qWait(100);
            QCOMPARE(form.Connection()->lblStatus->text(), QStringLiteral("停止中"));
            form.Connection()->btnConnect->click(); // at once
            QVERIFY(form.IsReceiving());
        }
        QTRY_COMPARE_WITH_TIMEOUT(form.Items().size(), 4, 15000);
        QTest::qWait(500);
        QStringList names;
        for (const TReceivedImage& item : form.Items())
            names << item.Filename;
        names.sort();
        QCOMPARE(names, (QStringList{"late0.jpg", "late1.jpg", "late2.jpg", "late3.jpg"}));
        form.Connection()->btnStop->click();
    }

    void closingSavesAndStops() {
        TFormMain form;
        form.Connection()->edtUrl->setText(FService.BaseUrl());
        form.Connection()->edtEmail->setText(QStringLiteral("demo@example.com"));
        form.Connection()->edtPassword->setText(QStringLiteral("secret"));
        form.Connection()->chkRunAtStartup->setChecked(true);
        form.Connection()->btnConnect->click();
        const QString entry =
            FEnv->ConfigHome() + QStringLiteral("/autostart/ScanlumeReceiver.desktop");
        QVERIFY(QFile::exists(entry));
        form.Connection()->chkRunAtStartup->setChecked(false);
        form.Connection()->edtFolder->setText(QStringLiteral("/somewhere/else"));
        form.show();
        QVERIFY(form.close());
        QVERIFY(!form.IsReceiving());
        QCOMPARE(DefaultSettings().SaveFolder, QStringLiteral("/somewhere/else"));
        QVERIFY(!DefaultSettings().RunAtStartup);
        QVERIFY(!QFile::exists(entry)); // unticked and closed: no start at the next sign-in

        // Ticked and closed without receiving: the next sign-in starts the program.
        TFormMain again;
        QVERIFY(!again.Connection()->chkRunAtStartup->isChecked());
        again.Connection()->chkRunAtStartup->setChecked(true);
        QVERIFY(again.close());
        QVERIFY(ReadAll(entry).contains("\nExec=\"" +
                                        QCoreApplication::applicationFilePath().toUtf8() + "\"\n"));

        TFormMain third;
        QVERIFY(third.Connection()->chkRunAtStartup->isChecked());
        third.Connection()->chkRunAtStartup->setChecked(false);
        third.Connection()->edtUrl->setText(FService.BaseUrl());
        third.Connection()->edtEmail->setText(QStringLiteral("demo@example.com"));
        third.Connection()->edtPassword->setText(QStringLiteral("secret"));
        third.Connection()->btnConnect->click();
        QVERIFY(!QFile::exists(entry));
        third.Connection()->btnStop->click();
        QCOMPARE(StatusColor(third),
                 third.palette().color(QPalette::Disabled, QPalette::WindowText));
    }

    // The worker has taken an item when the window closes: with saving on, the close
    // waits for it (a moment at most) and saves it instead of dropping it.
    void closingKeepsAnItemInFlight() {
        const QString folder = FEnv->Root() + QStringLiteral("/inflight");
        const QString poll = QStringLiteral("/api/image-transfer/native/poll");
        // The first poll's answer is on its way when the window closes.
        TLocalService::TScript s;
        s.Path = poll;
        s.Headers = {{"Content-Type", "image/jpeg"}, {"X-Image-Filename", "late.jpg"}};
        s.Body = "\xFF\xD8\xFF late photo";
        s.DelayMs = 800;
        FService.Script(s);
        {
            TFormMain form;
            form.Connection()->edtUrl->setText(FService.BaseUrl());
            form.Connection()->edtEmail->setText(QStringLiteral("demo@example.com"));
            form.Connection()->edtPassword->setText(QStringLiteral("secret"));
            form.Connection()->edtFolder->setText(folder);
            form.Connection()->chkAutoSave->setChecked(true);
            form.Connection()->btnConnect->click();
            const auto polled = [&] {
                const QList<TLocalService::TRecorded> requests = FService.Requests();
                return std::any_of(requests.cbegin(), requests.cend(),
                                   [&](const auto& r) { return r.Path == poll.toUtf8(); });
            };
            QTRY_VERIFY(polled());
            form.show();
            QVERIFY(form.close());
            QVERIFY(!form.IsReceiving());
        }
        QCOMPARE(ReadAll(folder + QStringLiteral("/late.jpg")),
                 QByteArray("\xFF\xD8\xFF late photo"));
    }

    // A quarter turn needs a second picture's memory for a moment. Without it the window
    // says so and keeps the picture; the program does not end. The picture is shown
    // without a copy of its own in the picture control.
    void turnWithoutMemory() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || PICTOPORT_HAS_SANITIZER
        QSKIP("the sanitizers reserve address space of their own");
#else
        // Memory the earlier tests freed stays mapped in the heap and would serve the
        // turn; a fresh process of this test has none of it.
        if (!qEnvironmentVariableIsSet("PICTOPORT_FRESH_PROCESS")) {
            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("PICTOPORT_FRESH_PROCESS"), QStringLiteral("1"));
            child.setProcessEnvironment(env);
            child.setProcessChannelMode(QProcess::ForwardedChannels);
            child.start(QCoreApplication::applicationFilePath(),
                        {QStringLiteral("turnWithoutMemory")});
            QVERIFY(child.waitForFinished(60000));
            QCOMPARE(child.exitStatus(), QProcess::NormalExit);
            QCOMPARE(child.exitCode(), 0);
            return;
        }
        TFormMain form;
        // Past glibc's largest threshold for taking memory from the heap (32 MB), so that
        // the turn's buffer must come from new address space.
        QImage photo(5000, 4000, QImage::Format_RGB888);
        photo.fill(Qt::gray);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        photo.save(&buffer, "PNG");
        form.AddImageItem(QStringLiteral("big.png"), QStringLiteral("image/png"), png);
        const TBitmap24* shown = form.CurrentBitmap();
        QVERIFY(shown != nullptr);
        QCOMPARE(form.pnlPreview->imgPreview->Picture().constBits(), shown->Bits());
        TBitmap24::DropSpareMemory();
        ReturnFreeMemoryToSystem();
        QFile statm(QStringLiteral("/proc/self/statm"));
        QVERIFY(statm.open(QIODevice::ReadOnly));
        const qint64 pages = statm.readAll().split(' ').first().toLongLong();
        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_AS, &saved), 0);
        rlimit tight = saved;
        tight.rlim_cur = rlim_t(pages * sysconf(_SC_PAGESIZE) + 8 * 1024 * 1024);
        QCOMPARE(setrlimit(RLIMIT_AS, &tight), 0);
        form.pnlTool->btnRotR->click();
        setrlimit(RLIMIT_AS, &saved);
        QCOMPARE(FMessages,
                 QStringList{QStringLiteral("画像を回転するためのメモリが足りません。")});
        QCOMPARE(form.CurrentBitmap()->Width(), 5000);
        form.pnlTool->btnRotR->click(); // with memory again
        QCOMPARE(form.CurrentBitmap()->Width(), 4000);
#endif
    }

    void workerStatusColours() {
        TFormMain form;
        form.Connection()->edtUrl->setText(FService.BaseUrl());
        form.Connection()->edtEmail->setText(QStringLiteral("demo@example.com"));
        form.Connection()->edtPassword->setText(QStringLiteral("wrong"));
        form.Connection()->btnConnect->click();
        QTRY_VERIFY(
            form.Connection()->lblStatus->text().startsWith(QStringLiteral("ログイン失敗: ")));
        QCOMPARE(StatusColor(form), QColor(128, 0, 0));
        form.Connection()->btnStop->click();
    }

    void showMeRestores() {
        TFormMain form;
        form.show();
        form.showMinimized();
        form.ShowMe();
        QVERIFY(!(form.windowState() & Qt::WindowMinimized));
        form.hide();
        form.ShowMe();
        QVERIFY(form.isVisible());
    }

    // ---- preview

    void orientationShown_data() {
        QTest::addColumn<int>("orientation");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QString>("marker");
        QTest::newRow("1") << 1 << QSize(64, 48) << "top-left";
        QTest::newRow("3 upside down") << 3 << QSize(64, 48) << "bottom-right";
        QTest::newRow("6 turned clockwise") << 6 << QSize(48, 64) << "top-right";
        QTest::newRow("8 turned counter-clockwise") << 8 << QSize(48, 64) << "bottom-left";
        QTest::newRow("2 mirrored left to right") << 2 << QSize(64, 48) << "top-right";
        QTest::newRow("4 mirrored top to bottom") << 4 << QSize(64, 48) << "bottom-left";
        QTest::newRow("5 across the main diagonal") << 5 << QSize(48, 64) << "top-left";
        QTest::newRow("7 across the other diagonal") << 7 << QSize(48, 64) << "bottom-right";
        QTest::newRow("9 as stored") << 9 << QSize(64, 48) << "top-left";
    }
    void orientationShown() {
        QFETCH(int, orientation);
        QFETCH(QSize, size);
        QFETCH(QString, marker);
        TFormMain form;
        form.AddImageItem(QStringLiteral("a.jpg"), QStringLiteral("image/jpeg"),
                          MakeJpeg(64, 48, TJpegExif{true, orientation}));
        QVERIFY(form.CurrentBitmap());
        QCOMPARE(QSize(form.CurrentBitmap()->Width(), form.CurrentBitmap()->Height()), size);
        QCOMPARE(MarkerCorner(*form.CurrentBitmap()), marker);
    }

    void previewStatesAndButtons() {
        TFormMain form;
        form.show();
        form.Connection()->chkAutoSave->setChecked(false);
        form.AddImageItem(QStringLiteral("p.png"), QStringLiteral("image/png"), Png(30, 20));
        QVERIFY(!form.pnlPreview->imgPreview->isHidden() &&
                !form.pnlPreview->pbSelect->isHidden() && form.pnlPreview->memoText->isHidden());
        for (QPushButton* b : {form.pnlTool->btnOcrRegion, form.pnlTool->btnOcrFull,
                               form.pnlTool->btnRx, form.pnlTool->btnExtract})
            QVERIFY(b->isEnabled());
        QVERIFY(!form.pnlTool->btnCopyText->isEnabled());
        QCOMPARE(form.lvImages->topLevelItem(0)->text(2), QString()); // not saved

        form.AddTextItem(QStringLiteral("t.txt"), QStringLiteral("  \r\n "));
        QVERIFY(form.pnlPreview->memoText->isVisible() && form.pnlPreview->imgPreview->isHidden() &&
                form.pnlPreview->pbSelect->isHidden());
        QVERIFY(!form.CurrentBitmap());
        // A text of blanks only enables nothing.
        for (QPushButton* b :
             {form.pnlTool->btnOcrRegion, form.pnlTool->btnOcrFull, form.pnlTool->btnRx,
              form.pnlTool->btnExtract, form.pnlTool->btnCopyText})
            QVERIFY(!b->isEnabled());
        form.pnlTool->btnRotL->click(); // nothing to turn
        QVERIFY(!form.CurrentBitmap());

        form.AddTextItem(QStringLiteral("t2.txt"), QStringLiteral("HbA1c 5.2"));
        QVERIFY(form.pnlTool->btnExtract->isEnabled() && form.pnlTool->btnCopyText->isEnabled() &&
                !form.pnlTool->btnOcrFull->isEnabled());

        form.AddImageItem(QStringLiteral("broken.jpg"), QStringLiteral("image/jpeg"),
                          QByteArray("\xFF\xD8\xFF garbage"));
        QVERIFY(!form.pnlPreview->imgPreview->isHidden() && form.pnlPreview->pbSelect->isHidden() &&
                !form.pnlPreview->imgPreview->HasPicture());
        QVERIFY(!form.CurrentBitmap());
        for (QPushButton* b :
             {form.pnlTool->btnOcrRegion, form.pnlTool->btnOcrFull, form.pnlTool->btnRx,
              form.pnlTool->btnExtract, form.pnlTool->btnCopyText})
            QVERIFY(!b->isEnabled());
        QCOMPARE(form.Items().size(), 4);
        form.ShowItem(99); // outside the list: nothing changes
        form.ShowItem(-1);
        QCOMPARE(form.Items().size(), 4);
    }

    void quarterTurnsAndReselect() {
        TFormMain form;
        form.AddImageItem(QStringLiteral("r.jpg"), QStringLiteral("image/jpeg"),
                          MakeJpeg(64, 48, TJpegExif{true, 6}));
        QCOMPARE(MarkerCorner(*form.CurrentBitmap()), QStringLiteral("top-right"));
        // A turn, another entry and the same entry shown again each drop the selection.
        form.pnlPreview->pbSelect->SetSelection({2, 2, 30, 30});
        QVERIFY(form.pnlPreview->pbSelect->Selection().HasSel());
        form.pnlTool->btnRotL->click();
        QVERIFY(!form.pnlPreview->pbSelect->Selection().HasSel());
        QCOMPARE(form.CurrentBitmap()->Width(), 64);
        QCOMPARE(MarkerCorner(*form.CurrentBitmap()), QStringLiteral("top-left"));
        form.pnlTool->btnRotR->click();
        form.pnlTool->btnRotR->click();
        QCOMPARE(MarkerCorner(*form.CurrentBitmap()), QStringLiteral("bottom-right"));
        // Showing the entry again starts from its tag, not from the user's turns.
        form.pnlPreview->pbSelect->SetSelection({2, 2, 30, 30});
        form.AddTextItem(QStringLiteral("x.txt"), QStringLiteral("x"));
        QVERIFY(!form.pnlPreview->pbSelect->Selection().HasSel() &&
                form.pnlPreview->pbSelect->isHidden());
        form.lvImages->setCurrentItem(form.lvImages->topLevelItem(1));
        QVERIFY(!form.pnlPreview->pbSelect->Selection().HasSel() &&
                !form.pnlPreview->pbSelect->isHidden());
        QCOMPARE(MarkerCorner(*form.CurrentBitmap()), QStringLiteral("top-right"));
        QByteArray bytes;
        QString error;
        QVERIFY(ItemBytes(form.Items()[1], bytes, error));
        QCOMPARE(bytes, MakeJpeg(64, 48, TJpegExif{true, 6}));
    }

    void previewFitsWithoutEnlarging() {
        TFormMain form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        // The preview works in device pixels: a small picture keeps its own pixel size.
        const qreal dpr = form.pnlPreview->imgPreview->devicePixelRatioF();
        const int cw = int(form.pnlPreview->imgPreview->width() * dpr);
        const int ch = int(form.pnlPreview->imgPreview->height() * dpr);
        form.AddImageItem(QStringLiteral("small.png"), QStringLiteral("image/png"), Png(40, 30));
        const QRect small = form.pnlPreview->imgPreview->DrawnRect();
        QCOMPARE(small, QRect((cw - 40) / 2, (ch - 30) / 2, 40, 30));
        form.AddImageItem(QStringLiteral("big.png"), QStringLiteral("image/png"), Png(4000, 1000));
        const QRect big = form.pnlPreview->imgPreview->DrawnRect();
        QCOMPARE(big.width(), cw);
        QCOMPARE(big.height(), int(1000 * (double(cw) / 4000)));
        QCOMPARE(big.top(), (ch - big.height()) / 2);
    }

    // ---- names of saved files

    void autoSaveNames_data() {
        QTest::addColumn<QString>("patient");
        QTest::addColumn<QString>("received");
        QTest::addColumn<QString>("saved");
        QTest::newRow("digits collected") << "12-34"
                                          << "photo.jpg"
                                          << "pt1234_photo.jpg";
        QTest::newRow("full-width digits dropped") << "１２３"
                                                   << "photo.jpg"
                                                   << "photo.jpg";
        QTest::newRow("letters only") << "abc"
                                      << "photo.jpg"
                                      << "photo.jpg";
        QTest::newRow("folder parts dropped") << "7"
                                              << "a/b\\c:photo.jpg"
                                              << "pt7_photo.jpg";
        QTest::newRow("climbing out is not possible") << ""
                                                      << "../../etc/passwd"
                                                      << "passwd.jpg";
        QTest::newRow("dots only") << ""
                                   << ".."
                                   << "image.jpg";
        QTest::newRow("empty name") << ""
                                    << ""
                                    << "image.jpg";
        QTest::newRow("reserved device name") << ""
                                              << "CON.jpg"
                                              << "_CON.jpg";
        QTest::newRow("reserved, other case") << ""
                                              << "lpt1"
                                              << "_lpt1.jpg";
        QTest::newRow("reserved console input") << ""
                                                << "CONIN$.jpg"
                                                << "_CONIN$.jpg";
        QTest::newRow("reserved superscript port")
            << "" << QStringLiteral("COM\u00B9.png") << QStringLiteral("_COM\u00B9.png");
        QTest::newRow("control characters") << "" << QStringLiteral("a\x01\tb?.jpg") << "a__b_.jpg";
        QTest::newRow("trailing dots and blanks") << ""
                                                  << "scan. . "
                                                  << "scan.jpg";
        QTest::newRow("right-to-left override")
            << "" << QStringLiteral("invoice\u202Efdp.exe") << "invoice_fdp.exe.jpg";
        // Nothing received can run by a double-click.
        QTest::newRow("a program's extension") << ""
                                               << "invoice.exe"
                                               << "invoice.exe.jpg";
        QTest::newRow("a desktop entry") << ""
                                         << "run.desktop"
                                         << "run.desktop.jpg";
        QTest::newRow("a hidden file") << ""
                                       << ".bashrc"
                                       << "bashrc.jpg";
        QTest::newRow("a PDF keeps its extension") << ""
                                                   << "report.PDF"
                                                   << "report.PDF";
    }
    void autoSaveNames() {
        QFETCH(QString, patient);
        QFETCH(QString, received);
        QFETCH(QString, saved);
        TFormMain form;
        const QString folder = FEnv->Root() + QStringLiteral("/save");
        form.Connection()->edtFolder->setText(folder);
        form.pnlTool->edtPatientId->setText(patient);
        form.Connection()->chkAutoSave->setChecked(true);
        form.AddImageItem(received, QStringLiteral("image/jpeg"), "bytes");
        QCOMPARE(form.Items()[0].SavedPath, folder + u'/' + saved);
        QCOMPARE(form.Items()[0].Filename, received);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{saved});
    }

    // An image with no bytes is listed as what it is: not saved, and said so.
    void emptyImageIsNotSaved() {
        TFormMain form;
        const QString folder = FEnv->Root() + QStringLiteral("/save");
        form.Connection()->edtFolder->setText(folder);
        form.Connection()->chkAutoSave->setChecked(true);
        QSignalSpy announced(form.Notifier(), &TNotifier::Announced);
        form.AddImageItem(QStringLiteral("empty.jpg"), QStringLiteral("image/jpeg"), QByteArray());
        QCOMPARE(form.Items().size(), 1);
        QVERIFY(form.Items()[0].SavedPath.isEmpty());
        QCOMPARE(form.lvImages->topLevelItem(0)->text(2), QString());
        QVERIFY(!QDir(folder).exists() || QDir(folder).isEmpty());
        QCOMPARE(form.Connection()->lblStatus->text(),
                 QStringLiteral("空の画像を受信しました（保存していません）: empty.jpg"));
        QCOMPARE(StatusColor(form), QColor(128, 0, 0));
        QCOMPARE(announced.last()[0].toString(),
                 QStringLiteral("画像を受信しましたが、保存できませんでした"));
    }

    // Texts in the charset they declare; one that is not valid in it is kept byte for byte.
    void receivedCharsets() {
        TFormMain form;
        TPollTimings t;
        t.WaitSeconds = 1;
        form.SetPollTimings(t);
        const QString folder = FEnv->Root() + QStringLiteral("/save");
        form.Connection()->edtUrl->setText(FService.BaseUrl());
        form.Connection()->edtEmail->setText(QStringLiteral("demo@example.com"));
        form.Connection()->edtPassword->setText(QStringLiteral("secret"));
        form.Connection()->edtFolder->setText(folder);
        form.Connection()->btnConnect->click();
        const QString user = QStringLiteral("demo@example.com:secret");
        QCOMPARE(FService.SendFile(user, QStringLiteral("sjis.txt"),
                                   "text/plain; charset=Shift_JIS", QByteArray("\x8C\x9F\x8D\xB8")),
                 202);
        QTRY_COMPARE(form.Items().size(), 1);
        QCOMPARE(form.Items()[0].Text, QStringLiteral("検査"));
        QCOMPARE(ReadAll(folder + QStringLiteral("/sjis.txt")),
                 QByteArray("\xEF\xBB\xBF") + QStringLiteral("検査").toUtf8());

        const QByteArray broken("ok \xFF\xFE broken");
        QCOMPARE(FService.SendFile(user, QStringLiteral("broken.txt"), "text/plain", broken), 202);
        QTRY_COMPARE(form.Items().size(), 2);
        QCOMPARE(ReadAll(folder + QStringLiteral("/broken.txt")), broken);
        QCOMPARE(form.Items()[0].SavedPath, folder + QStringLiteral("/broken.txt"));
        QVERIFY(form.Items()[0].DataOnDisk); // its bytes, read back for Save as
        QByteArray bytes;
        QString error;
        QVERIFY(ItemBytes(form.Items()[0], bytes, error));
        QCOMPARE(bytes, broken);
        QVERIFY(form.Connection()->lblStatus->text().startsWith(
            QStringLiteral("文字コードを読み取れないテキストを、受信したまま保存しました: ")));
        QCOMPARE(StatusColor(form), QColor(128, 0, 0));
        form.Connection()->btnStop->click();
    }

    // A text not readable in its charset keeps its own bytes: when it cannot be saved they
    // stay with the entry, and Save as writes them rather than the note shown for it.
    void unreadableTextKeepsItsBytes() {
        TFormMain form;
        const QString blocked = FEnv->Root() + QStringLiteral("/blocked");
        QVERIFY(WriteFileBytes(blocked, "a file where the folder should be"));
        form.Connection()->edtFolder->setText(blocked + QStringLiteral("/save"));
        const QByteArray broken("ok \xFF\xFE broken");
        form.AddReceivedText(QStringLiteral("broken.txt"), broken);
        QVERIFY(form.Items()[0].SavedPath.isEmpty());
        QVERIFY(form.Connection()->lblStatus->text().startsWith(
            QStringLiteral("文字コードを読み取れないテキストを保存できませんでした: ")));
        QCOMPARE(form.Items()[0].Data, broken);
        QByteArray bytes;
        QString error;
        QVERIFY(ItemBytes(form.Items()[0], bytes, error));
        QCOMPARE(bytes, broken);
    }

    // A text too large to show is saved byte for byte away from the window thread and
    // listed with a note; it never reaches the box or the clipboard.
    void largeTextIsSavedAsReceived() {
        TFormMain form;
        const QString folder = FEnv->Root() + QStringLiteral("/save");
        form.Connection()->edtFolder->setText(folder);
        QApplication::clipboard()->setText(QStringLiteral("before"));
        const QByteArray body = QByteArray("AST 24\n").repeated(800000) + "\xFF"; // 5.6 MB
        form.AddReceivedText(QStringLiteral("huge.txt"), body);
        QTRY_COMPARE(form.Items().size(), 1);
        const TReceivedImage& item = form.Items()[0];
        QCOMPARE(item.SavedPath, folder + QStringLiteral("/huge.txt"));
        QCOMPARE(ReadAll(item.SavedPath), body);
        QVERIFY(item.Text.startsWith(QStringLiteral("（大きすぎるため表示できないテキストです")));
        QVERIFY(item.DataOnDisk && item.Data.isEmpty());
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("before"));
        QCOMPARE(form.Connection()->lblStatus->text(),
                 QStringLiteral("大きなテキストを受信したまま保存しました: ") + item.SavedPath);
    }

    // A link in the save folder, even one that points nowhere, is a taken name: the write
    // never goes through it to somewhere else.
    void danglingLinkIsTaken() {
        TFormMain form;
        const QString folder = FEnv->Root() + QStringLiteral("/save");
        const QString elsewhere = FEnv->Root() + QStringLiteral("/elsewhere/target.jpg");
        QVERIFY(QDir().mkpath(folder) &&
                QDir().mkpath(FEnv->Root() + QStringLiteral("/elsewhere")));
        QVERIFY(QFile::link(elsewhere, folder + QStringLiteral("/image.jpg")));
        form.Connection()->edtFolder->setText(folder);
        form.Connection()->chkAutoSave->setChecked(true);
        form.AddImageItem(QStringLiteral("image.jpg"), QStringLiteral("image/jpeg"), "bytes");
        QCOMPARE(form.Items()[0].SavedPath, folder + QStringLiteral("/image_(1).jpg"));
        QVERIFY(!QFileInfo::exists(elsewhere));
        QVERIFY(QFileInfo(folder + QStringLiteral("/image.jpg")).isSymLink());
        // Texts too, and a text always ends in .txt.
        form.AddTextItem(QStringLiteral("note"), QStringLiteral("x"));
        QCOMPARE(form.Items()[0].SavedPath, folder + QStringLiteral("/note.txt"));
    }

    // A huge text is saved and copied whole but shown only in part, and says so.
    void hugeTextIsBounded() {
        TFormMain form;
        const QString folder = FEnv->Root() + QStringLiteral("/save");
        form.Connection()->edtFolder->setText(folder);
        const QString text = QStringLiteral("行\n").repeated(1000000); // 2 million characters
        form.AddTextItem(QStringLiteral("huge.txt"), text);
        const QByteArray saved = ReadAll(folder + QStringLiteral("/huge.txt"));
        QCOMPARE(saved.size(), 3 + 1000000 * (3 + 2)); // mark, then 行 and CR LF each line
        QVERIFY(form.pnlPreview->memoText->blockCount() <= 20000 + 3);
        QVERIFY(form.pnlPreview->memoText->toPlainText().endsWith(
            QStringLiteral("全文は保存したファイルにあります）")));
        // Copying is of the data, not of what the box shows: the whole text, each time.
        const QString whole = QStringLiteral("行\r\n").repeated(1000000);
        QCOMPARE(QApplication::clipboard()->text().remove(u'\r').size(), 2000000);
        QVERIFY(form.Connection()->lblStatus->text().startsWith(
            QStringLiteral("クリップボードにコピー済 ／ 保存先: ")));
        QApplication::clipboard()->clear();
        form.pnlTool->btnCopyText->click();
        QCOMPARE(QApplication::clipboard()->text().remove(u'\r').size(), 2000000);
        QCOMPARE(form.Preview()->ShownText(), whole);
        form.AddTextItem(QStringLiteral("small.txt"), QStringLiteral("a\nb"));
        QCOMPARE(form.pnlPreview->memoText->toPlainText(), QStringLiteral("a\nb"));
    }

    // Another program takes the clipboard the moment the text lands on it: the text is
    // saved, and the window says the copy failed instead of claiming it.
    void textWhoseCopyDidNotStick() {
        TFormMain form;
        const QString folder = FEnv->Root() + QStringLiteral("/save");
        form.Connection()->edtFolder->setText(folder);
        QSignalSpy announced(form.Notifier(), &TNotifier::Announced);
        QClipboard* clipboard = QApplication::clipboard();
        clipboard->clear();
        auto connection = std::make_shared<QMetaObject::Connection>();
        *connection = connect(clipboard, &QClipboard::dataChanged, this, [clipboard, connection] {
            QObject::disconnect(*connection);
            clipboard->setText(QStringLiteral("someone else's text"));
        });
        form.AddTextItem(QStringLiteral("memo.txt"), QStringLiteral("AST 24"));
        QObject::disconnect(*connection);
        const QString path = folder + QStringLiteral("/memo.txt");
        QCOMPARE(form.Connection()->lblStatus->text(),
                 QStringLiteral("クリップボードへのコピーに失敗しました ／ 保存先: ") + path);
        QCOMPARE(StatusColor(form), QColor(128, 0, 0));
        QCOMPARE(ReadAll(path), QByteArray("\xEF\xBB\xBF"
                                           "AST 24"));
        QCOMPARE(announced.last()[0].toString(),
                 QStringLiteral("テキストを取得（クリップボードへのコピーに失敗しました）"));
    }

    // A relative save folder means one under the home folder, wherever the program was
    // started from, and the window shows it so.
    void relativeFolderIsUnderHome() {
        TAppSettings s = DefaultSettings();
        s.SaveFolder = QStringLiteral("scans/../clinic");
        WriteSettings(s);
        TFormMain form;
        const QString home = FEnv->Root() + QStringLiteral("/home");
        QCOMPARE(form.Connection()->edtFolder->text(), home + QStringLiteral("/clinic"));
        form.Connection()->chkAutoSave->setChecked(true);
        form.Connection()->edtFolder->setText(
            QStringLiteral("elsewhere")); // typed, not yet confirmed
        form.AddImageItem(QStringLiteral("a.jpg"), QStringLiteral("image/jpeg"), "bytes");
        QCOMPARE(form.Items()[0].SavedPath, home + QStringLiteral("/elsewhere/a.jpg"));
        Q_EMIT form.Connection()->edtFolder->editingFinished();
        QCOMPARE(form.Connection()->edtFolder->text(), home + QStringLiteral("/elsewhere"));
    }

    // Settings or an autostart entry that could not be written are reported, not lost
    // in silence.
    void unwritableSettingsAreReported() {
        // The settings folder and the autostart folder are files, so nothing can go there.
        const QString config = FEnv->ConfigHome();
        QFile(config + QStringLiteral("/ScanlumeReceiver")).open(QIODevice::WriteOnly);
        QFile(config + QStringLiteral("/autostart")).open(QIODevice::WriteOnly);
        TFormMain form;
        form.Connection()->edtUrl->setText(QStringLiteral("http://127.0.0.1:1"));
        form.Connection()->edtEmail->setText(QStringLiteral("a@b"));
        form.Connection()->edtPassword->setText(QStringLiteral("pw"));
        form.Connection()->chkRunAtStartup->setChecked(true);
        form.Connection()->btnConnect->click();
        QCOMPARE(FMessages.size(), 2);
        QVERIFY(FMessages[0].startsWith(QStringLiteral("設定を保存できませんでした:\r\n")));
        QCOMPARE(FMessages[1], QStringLiteral("サインイン時の自動起動を設定できませんでした。"));
        QVERIFY(form.IsReceiving()); // receiving starts all the same
        form.Connection()->btnStop->click();
    }

    // A stored password that cannot be opened is said once and survives the close.
    void unreadablePasswordIsKept() {
        TAppSettings s = DefaultSettings();
        s.Email = QStringLiteral("a@b");
        s.Password = QStringLiteral("pw");
        s.AutoConnect = true;
        WriteSettings(s);
        QByteArray ini = ReadAll(IniPath());
        const qsizetype at = ini.indexOf("password_enc=") + int(strlen("password_enc="));
        ini[at + 4] = ini[at + 4] == 'A' ? 'B' : 'A'; // damaged on disk
        QFile f(IniPath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(ini);
        f.close();
        const QByteArray damaged = ini.mid(at, ini.indexOf('\r', at) - at);
        {
            TFormMain form;
            QTRY_VERIFY(form.Connection()->lblStatus->text().startsWith(
                QStringLiteral("保存されたパスワードを読み取れませんでした。")));
            QCOMPARE(StatusColor(form), QColor(128, 0, 0));
            QVERIFY(!form.IsReceiving());
            form.show();
            QVERIFY(form.close());
        }
        QVERIFY(ReadAll(IniPath()).contains("password_enc=" + damaged + "\r\n"));
    }

    // A saved picture's bytes live in its file, not in the window; one that could not be
    // saved stays in memory. Shown again, it is read back; gone, it says so.
    void savedBytesLiveOnDisk() {
        TFormMain form;
        const QString folder = FEnv->Root() + QStringLiteral("/save");
        form.Connection()->edtFolder->setText(folder);
        form.Connection()->chkAutoSave->setChecked(true);
        const QByteArray jpeg = MakeJpeg(64, 48, TJpegExif{true, 6});
        form.AddImageItem(QStringLiteral("a.jpg"), QStringLiteral("image/jpeg"), jpeg);
        QVERIFY(form.Items()[0].Data.isEmpty() && form.Items()[0].DataOnDisk);
        form.Connection()->chkAutoSave->setChecked(false);
        form.AddImageItem(QStringLiteral("b.jpg"), QStringLiteral("image/jpeg"), jpeg);
        QCOMPARE(form.Items()[0].Data, jpeg); // not saved: kept here
        form.lvImages->setCurrentItem(form.lvImages->topLevelItem(1));
        QVERIFY(form.CurrentBitmap() != nullptr);
        QCOMPARE(form.CurrentBitmap()->Width(), 48); // read back and shown upright
        QVERIFY(QFile::remove(folder + QStringLiteral("/a.jpg")));
        form.lvImages->setCurrentItem(form.lvImages->topLevelItem(0));
        form.lvImages->setCurrentItem(form.lvImages->topLevelItem(1));
        QVERIFY(form.CurrentBitmap() == nullptr);
        QVERIFY(form.Connection()->lblStatus->text().startsWith(
            QStringLiteral("画像ファイルを読み込めませんでした: ")));
        QCOMPARE(StatusColor(form), QColor(128, 0, 0));
    }

    void uniqueNames() {
        const QString folder = FEnv->Root() + QStringLiteral("/u");
        QDir().mkpath(folder);
        QCOMPARE(SavedFiles::UniqueFilePath(folder, QStringLiteral("scan")),
                 folder + QStringLiteral("/scan"));
        QFile(folder + QStringLiteral("/scan")).open(QIODevice::WriteOnly);
        QCOMPARE(SavedFiles::UniqueFilePath(folder, QStringLiteral("scan")),
                 folder + QStringLiteral("/scan_(1)"));
        QFile(folder + QStringLiteral("/a.b.txt")).open(QIODevice::WriteOnly);
        QFile(folder + QStringLiteral("/a.b_(1).txt")).open(QIODevice::WriteOnly);
        QCOMPARE(SavedFiles::UniqueFilePath(folder, QStringLiteral("a.b.txt")),
                 folder + QStringLiteral("/a.b_(2).txt"));
        const QString longName = QString(200, QChar(u'漢')) + QStringLiteral(".jpg");
        const QString safe = SavedFiles::SafeFileName(longName);
        QVERIFY(safe.toUtf8().size() <= 240);
        QVERIFY(safe.endsWith(QLatin1String(".jpg")));
    }

    // A long name is cut to 240 bytes; what is left keeps to the same rules as any name.
    void cutNames_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("safe");
        QTest::newRow("cut at blanks")
            << u'a' + QString(238, u'b') + QString(20, u' ') + u'c' << u'a' + QString(238, u'b');
        QTest::newRow("cut at dots")
            << QString(230, u'a') + QString(30, u'.') + QString(20, u'c') << QString(230, u'a');
        QTest::newRow("cut to a device's name")
            << QStringLiteral("con") + QString(300, u' ') + u'x' << QStringLiteral("_con");
        QTest::newRow("long extension cut with the stem")
            << QStringLiteral("nul.") + QString(300, u'x')
            << QStringLiteral("_nul.") + QString(235, u'x');
    }
    void cutNames() {
        QFETCH(QString, name);
        QFETCH(QString, safe);
        QCOMPARE(SavedFiles::SafeFileName(name), safe);
        QCOMPARE(SavedFiles::SafeFileName(safe), safe);
    }

    void unsavedCases() {
        TFormMain form;
        form.Connection()->chkAutoSave->setChecked(true);
        form.Connection()->edtFolder->setText(QStringLiteral("   "));
        form.AddImageItem(QStringLiteral("i.jpg"), QStringLiteral("image/jpeg"), "x");
        QVERIFY(form.Items()[0].SavedPath.isEmpty());
        QCOMPARE(form.lvImages->topLevelItem(0)->text(2), QString());
        // Auto-save on with no folder saves nothing, and says so.
        QCOMPARE(form.Connection()->lblStatus->text(),
                 QStringLiteral("保存フォルダが空欄のため、自動保存していません: i.jpg"));
        QCOMPARE(StatusColor(form), QColor(128, 0, 0));
        // A text in the same situation goes to the Documents fall-back folder.
        form.AddTextItem(QStringLiteral("t.txt"), QStringLiteral("x"));
        QCOMPARE(form.Items()[0].SavedPath,
                 FEnv->DocumentsDir() + QStringLiteral("/ScanlumeReceiver/t.txt"));

        // A save folder that cannot be made: the item stays, unsaved, and the status says why.
        const QString blocker = FEnv->Root() + QStringLiteral("/file-not-folder");
        QFile(blocker).open(QIODevice::WriteOnly);
        form.Connection()->edtFolder->setText(blocker + QStringLiteral("/sub"));
        form.AddImageItem(QStringLiteral("j.jpg"), QStringLiteral("image/jpeg"), "x");
        QVERIFY(form.Items()[0].SavedPath.isEmpty());
        QVERIFY(form.Connection()->lblStatus->text().startsWith(
            QStringLiteral("自動保存に失敗しました: ")));
        QCOMPARE(StatusColor(form), QColor(128, 0, 0)); // a failure never shows in green
        form.AddTextItem(QStringLiteral("k.txt"), QStringLiteral("x"));
        QVERIFY(form.Items()[0].SavedPath.isEmpty());
        QVERIFY(form.Connection()->lblStatus->text().startsWith(
            QStringLiteral("クリップボードにコピー済 ／ ファイル保存に失敗しました: ")));
        QCOMPARE(StatusColor(form), QColor(128, 0, 0));
        QCOMPARE(
            form.Connection()->lblStatus->toolTip(),
            form.Connection()->lblStatus->text().mid(
                QStringLiteral("クリップボードにコピー済 ／ ファイル保存に失敗しました: ").size()));
        QCOMPARE(form.Items().size(), 4);
        QCOMPARE(QDir(FEnv->Root()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"file-not-folder"});
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

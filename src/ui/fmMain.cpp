#include "ui/fmMain.h"

#include "app/uAppSetup.h"
#include "common/uClock.h"
#include "common/uErrors.h"
#include "common/uTextRules.h"
#include "platform/uAutostart.h"
#include "platform/uMemory.h"
#include "platform/uProtect.h"
#include "platform/uSingleInstance.h"
#include "ui/uClipboard.h"
#include "ui/uCommandStates.h"
#include "ui/uDialogLook.h"
#include "ui/uElidedLabel.h"
#include "ui/uFileCommands.h"
#include "ui/uItemSaver.h"
#include "ui/uMessages.h"
#include "ui/uNotifier.h"
#include "ui/uPastFile.h"
#include "ui/uPreviewWidget.h"
#include "ui/uReceivingSession.h"
#include "ui/uRecognitionActions.h"
#include "ui/uSavedFiles.h"
#include "ui/uSelectionOverlay.h"
#include "ui/uStatusLine.h"
#include "ui/uTextBound.h"
#include "ui/uWindowFont.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStringDecoder>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace {
const QString PasswordOpeningText = QStringLiteral("保存されたパスワードを読み込んでいます…");
} // namespace

TFormMain::TFormMain(QWidget* AParent, int AFontPixelSize)
    : QWidget(AParent), FFontPixelSize(AFontPixelSize) {
    FormCreate();
}

// The receiving session stops its worker when it goes, with the window.
TFormMain::~TFormMain() = default;

int TFormMain::TextWidthOf(const QString& AText) const {
    return QFontMetrics(font()).horizontalAdvance(AText);
}

int TFormMain::LineHeight() const {
    // The height of "Ag" drawn in the window font: the font's line height.
    return QFontMetrics(font()).height();
}

// ---------------------------------------------------------------------------------
// Creation and layout

void TFormMain::FormCreate() {
    FSession = new TReceivingSession(this);
    BuildLayout();
    WireCommands();
    FSettings.LoadFile();
    SettingsToControls();
    if (FSettings.FileUnreadable) {
        SetStatusText(QStringLiteral("設定ファイルを読み取れなかったため、既定の設定で起動しました"
                                     "。元のファイルは保存時に ") +
                          TAppSettings::BackupPath() + QStringLiteral(" として残します"),
                      StatusLine::Maroon);
    }
    // The keyring may wait for the user to unlock it; the window does not.
    PlatformPrepareKey(this, [this, stored = FSettings.StoredPassword] {
        if (!stored.isEmpty())
            PasswordOpened(TAppSettings::OpenPassword(stored));
    });
    if (FSettings.StoredPassword.isEmpty())
        AutoConnect();
    else
        SetStatusText(PasswordOpeningText,
                      palette().color(QPalette::Disabled, QPalette::WindowText));
}

void TFormMain::PasswordOpened(const TOpenedPassword& AResult) {
    const bool current = AResult.Stored == FSettings.StoredPassword;
    FSettings.AcceptOpenedPassword(AResult);
    // Typed or connected meanwhile: what the user did wins.
    if (!current || FSession->IsReceiving() || !edtPassword->text().isEmpty()) {
        if (lblStatus->text() == PasswordOpeningText)
            ShowStopped();
        return;
    }
    if (!FSettings.PasswordOpened()) {
        // Said once; the stored password stays in the file until a new one is typed.
        SetStatusText(
            QStringLiteral(
                "保存されたパスワードを読み取れませんでした。パスワードを入力し直してください: ") +
                FSettings.PasswordError,
            StatusLine::Maroon);
        return;
    }
    edtPassword->setText(FSettings.Password);
    ShowStopped();
    AutoConnect();
}

void TFormMain::AutoConnect() {
    if (FSettings.AutoConnect && !FSettings.Email.isEmpty() && !FSettings.Password.isEmpty())
        StartReceiving();
}

void TFormMain::NextButtonRow(int& AX, int& AY) const {
    AX = ScalePx(8);
    AY = AY + ScalePx(6) + FBtnH;
}

QPushButton* TFormMain::AddButton(QWidget* AParent, const QString& ACaption, int& AX, int& AY,
                                  int AMinWidth) {
    int w = TextWidthOf(ACaption) + ScalePx(24);
    if (w < ScalePx(AMinWidth))
        w = ScalePx(AMinWidth);
    if (AX > ScalePx(8) && AX + w > AParent->width() - ScalePx(8))
        NextButtonRow(AX, AY);
    auto* button = new QPushButton(ACaption, AParent);
    button->setGeometry(AX, AY, w, FBtnH);
    AX = AX + w + ScalePx(6);
    return button;
}

QCheckBox* TFormMain::AddCheckBox(QWidget* AParent, const QString& ACaption, int AX, int AY) {
    auto* box = new QCheckBox(ACaption, AParent);
    box->setGeometry(AX, AY, TextWidthOf(ACaption) + ScalePx(26), FEditH);
    return box;
}

QLineEdit* TFormMain::AddLabeledEdit(const QString& ACaption, int AY, bool AIsPassword) {
    auto* label = new QLabel(ACaption, grpSettings);
    label->setGeometry(ScalePx(16), AY + (FEditH - LineHeight()) / 2, FLabelW,
                       LineHeight() + ScalePx(2));
    auto* edit = new QLineEdit(grpSettings);
    edit->setGeometry(FEditLeft, AY, ScalePx(400), FEditH);
    if (AIsPassword) {
        edit->setEchoMode(QLineEdit::Password);
        // Every character shows as "*".
        edit->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    }
    label->setBuddy(edit);
    return edit;
}

void TFormMain::BuildLayout() {
    // 1. Window and metrics.
    setWindowTitle(QStringLiteral("Pictoport（Scanlume PC受信）"));
    setWindowIcon(AppIcon());
    setFont(WindowFont(FFontPixelSize));
    setAutoFillBackground(true);
    const int clientW = ScalePx(1100);
    const int clientH = ScalePx(720);
    resize(clientW, clientH);
    if (QScreen* screen = QApplication::primaryScreen()) {
        const QRect avail = screen->availableGeometry();
        move(avail.center() - QPoint(clientW / 2, clientH / 2));
    }
    FEditH = LineHeight() + ScalePx(9);
    FBtnH = LineHeight() + ScalePx(13);
    const int rowPitch = ScalePx(9) + FEditH;
    FLabelW = 0;
    for (const char* caption : {"サーバーURL", "メールアドレス", "パスワード", "保存フォルダ"})
        FLabelW = std::max(FLabelW, TextWidthOf(QString::fromUtf8(caption)));
    FLabelW += ScalePx(8);
    FEditLeft = ScalePx(16) + FLabelW + ScalePx(10);

    // 2-5. Connection settings.
    grpSettings = new QGroupBox(QStringLiteral(" 接続設定 "), this);
    FGroupHeight = ScalePx(22) + 4 * rowPitch + ScalePx(12);
    grpSettings->setGeometry(0, 0, clientW, FGroupHeight);
    edtUrl = AddLabeledEdit(QStringLiteral("サーバーURL"), ScalePx(22) + 0 * rowPitch, false);
    edtEmail = AddLabeledEdit(QStringLiteral("メールアドレス"), ScalePx(22) + 1 * rowPitch, false);
    edtPassword = AddLabeledEdit(QStringLiteral("パスワード"), ScalePx(22) + 2 * rowPitch, true);
    edtFolder = AddLabeledEdit(QStringLiteral("保存フォルダ"), ScalePx(22) + 3 * rowPitch, false);
    int x = FEditLeft + ScalePx(400) + ScalePx(6);
    int y = ScalePx(22) + 3 * rowPitch;
    btnBrowse = AddButton(grpSettings, QStringLiteral("参照..."), x, y, 70);
    const int checkX = x + ScalePx(24);
    chkAutoSave =
        AddCheckBox(grpSettings, QStringLiteral("受信した画像を自動保存する"), checkX, ScalePx(26));
    chkAutoConnect = AddCheckBox(grpSettings, QStringLiteral("起動時に自動的に受信を開始する"),
                                 checkX, ScalePx(26) + rowPitch);
    chkRunAtStartup =
        AddCheckBox(grpSettings, RunAtStartupCaption(), checkX, ScalePx(26) + 2 * rowPitch);

    // 6-8. Start, stop and the status line.
    pnlControl = new QWidget(this);
    FControlHeight = ScalePx(18) + FBtnH;
    pnlControl->setGeometry(0, FGroupHeight, clientW, FControlHeight);
    x = ScalePx(16);
    y = ScalePx(9);
    btnConnect = AddButton(pnlControl, QStringLiteral("▶ 受信開始"), x, y, 110);
    btnStop = AddButton(pnlControl, QStringLiteral("■ 停止"), x, y, 80);
    btnStop->setEnabled(false);
    lblStatus = new TElidedLabel(QStringLiteral("停止中"), pnlControl);
    lblStatus->setGeometry(x + ScalePx(14), y + (FBtnH - LineHeight()) / 2,
                           pnlControl->width() - x - ScalePx(30), LineHeight() + ScalePx(2));
    FStatusRightGap = pnlControl->width() - lblStatus->geometry().right() - 1;
    ShowStopped();

    // 9-12. Body: list, splitter, right-hand panel.
    splBody = new QSplitter(Qt::Horizontal, this);
    splBody->setChildrenCollapsible(false);
    lvImages = new TItemListView(splBody);
    lvImages->setColumnCount(3);
    lvImages->setHeaderLabels(
        {QStringLiteral("時刻"), QStringLiteral("ファイル名"), QStringLiteral("保存")});
    lvImages->setRootIsDecorated(false);
    lvImages->setUniformRowHeights(true);
    lvImages->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvImages->setSelectionMode(QAbstractItemView::SingleSelection);
    lvImages->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvImages->header()->setStretchLastSection(false);
    lvImages->setColumnWidth(0, TextWidthOf(QStringLiteral("00:00")) + ScalePx(20));
    lvImages->setColumnWidth(1, ScalePx(150));
    lvImages->setColumnWidth(2, TextWidthOf(QStringLiteral("保存済")) + ScalePx(18));
    KeepSelectionVisible(lvImages); // also when the list loses the focus
    const int listW = lvImages->columnWidth(0) + lvImages->columnWidth(1) +
                      lvImages->columnWidth(2) + ScalePx(26);
    auto* right = new QWidget(splBody);
    splBody->setStretchFactor(0, 0);
    splBody->setStretchFactor(1, 1);
    const int bodyTop = FGroupHeight + FControlHeight;
    splBody->setGeometry(0, bodyTop, clientW, clientH - bodyTop);
    const int rightW = clientW - listW - splBody->handleWidth();
    splBody->setSizes({listW, rightW});
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->setSpacing(0);

    // 13-17. Tool panel with three rows of commands.
    pnlTool = new QWidget(right);
    pnlTool->resize(rightW, (FBtnH + ScalePx(6)) * 3 + ScalePx(8));
    x = ScalePx(8);
    y = ScalePx(5);
    lblPatientId = new QLabel(QStringLiteral("患者ID(任意)"), pnlTool);
    lblPatientId->adjustSize();
    lblPatientId->move(x, y + (FBtnH - LineHeight()) / 2);
    x = x + ScalePx(6) + lblPatientId->width();
    edtPatientId = new QLineEdit(pnlTool);
    edtPatientId->setGeometry(x, y + (FBtnH - FEditH) / 2, ScalePx(100), FEditH);
    lblPatientId->setBuddy(edtPatientId);
    x = x + ScalePx(100) + ScalePx(8);
    btnRotL = AddButton(pnlTool, QStringLiteral("↺ 左回転"), x, y, 70);
    btnRotR = AddButton(pnlTool, QStringLiteral("↻ 右回転"), x, y, 70);
    lblHint =
        new QLabel(QStringLiteral("ヒント: 傾きは回転で補正→対象部分をドラッグで囲む"), pnlTool);
    {
        QPalette pal = lblHint->palette();
        pal.setColor(QPalette::WindowText,
                     palette().color(QPalette::Disabled, QPalette::WindowText));
        lblHint->setPalette(pal);
    }
    lblHint->adjustSize();
    lblHint->move(x + ScalePx(6), y + (FBtnH - LineHeight()) / 2);
    NextButtonRow(x, y);
    btnOcrRegion = AddButton(pnlTool, QStringLiteral("🔍 選択範囲をテキスト化"), x, y, 150);
    btnOcrFull = AddButton(pnlTool, QStringLiteral("画像全体をテキスト化"), x, y, 130);
    btnRx = AddButton(pnlTool, QStringLiteral("💊 処方を抽出"), x, y, 110);
    btnExtract = AddButton(pnlTool, QStringLiteral("🧪 検査項目抽出"), x, y, 120);
    for (QPushButton* b : {btnOcrRegion, btnOcrFull, btnRx, btnExtract})
        b->setEnabled(false);
    NextButtonRow(x, y);
    btnSaveAs = AddButton(pnlTool, QStringLiteral("名前を付けて保存..."), x, y, 130);
    btnOpenFolder = AddButton(pnlTool, QStringLiteral("保存フォルダを開く"), x, y, 130);
    btnCopyText = AddButton(pnlTool, QStringLiteral("📋 テキストをコピー"), x, y, 140);
    btnCopyText->setEnabled(false);
    btnItems = AddButton(pnlTool, QStringLiteral("⚙ 抽出項目の設定..."), x, y, 140);
    btnHistory = AddButton(pnlTool, QStringLiteral("🗂 過去のファイル..."), x, y, 140);
    pnlTool->setFixedHeight(y + FBtnH + ScalePx(8));
    rightLayout->addWidget(pnlTool);

    // 18-20. Preview area: picture, selection overlay, text.
    pnlPreview = new TPreviewPane(right);
    rightLayout->addWidget(pnlPreview, 1);
    imgPreview = pnlPreview->imgPreview;
    pbSelect = pnlPreview->pbSelect;
    memoText = pnlPreview->memoText;
    memoText->setFont(WindowFont(15)); // 11 points at 96 DPI

    // 21-22. Notification-area icon and its menu.
    FTrayMenu = new QMenu(this);
    FTrayMenu->addAction(QStringLiteral("表示(&S)"), this, &TFormMain::ShowFromTray);
    FTrayMenu->addAction(QStringLiteral("終了(&X)"), this, &TFormMain::ExitFromTray);
    TrayIcon = new QSystemTrayIcon(AppIcon(), this);
    TrayIcon->setToolTip(QStringLiteral("Pictoport"));
    TrayIcon->setContextMenu(FTrayMenu);
    connect(TrayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason r) {
                if (r == QSystemTrayIcon::DoubleClick)
                    ShowFromTray();
            });
    // Where the desktop has no notification area there is nothing to show it in; the
    // notifier then announces through the desktop's notification service.
    if (QSystemTrayIcon::isSystemTrayAvailable())
        TrayIcon->setVisible(true);
    FNotifier = new TNotifier(TrayIcon, this);

    LayoutDocked();
}

void TFormMain::WireCommands() {
    connect(btnConnect, &QPushButton::clicked, this, &TFormMain::StartReceiving);
    connect(btnStop, &QPushButton::clicked, this, &TFormMain::StopReceiving);
    connect(lvImages, &QTreeWidget::itemSelectionChanged, this, &TFormMain::lvImagesSelectItem);
    connect(edtFolder, &QLineEdit::editingFinished, this, [this] {
        const QString absolute = SavedFiles::AbsoluteFolder(edtFolder->text());
        if (absolute != TextRules::Trim(edtFolder->text()))
            edtFolder->setText(absolute);
    });

    connect(FSession, &TReceivingSession::ImageReceived, this, &TFormMain::AddImageItem);
    connect(FSession, &TReceivingSession::TextReceived, this, &TFormMain::AddReceivedText);
    connect(FSession, &TReceivingSession::StatusChanged, this, &TFormMain::SetStatus);

    connect(btnRotL, &QPushButton::clicked, pnlPreview, &TPreviewPane::RotateLeft);
    connect(btnRotR, &QPushButton::clicked, pnlPreview, &TPreviewPane::RotateRight);
    connect(pnlPreview, &TPreviewPane::Changed, this, &TFormMain::UpdateButtons);

    FRecognition = new TRecognitionActions(
        this, pnlPreview,
        TRecognitionFields{edtUrl, edtEmail, edtPassword, edtPatientId, lblStatus});
    connect(btnOcrRegion, &QPushButton::clicked, FRecognition,
            &TRecognitionActions::btnOcrRegionClick);
    connect(btnOcrFull, &QPushButton::clicked, FRecognition, &TRecognitionActions::btnOcrFullClick);
    connect(btnRx, &QPushButton::clicked, FRecognition, &TRecognitionActions::btnRxClick);
    connect(btnExtract, &QPushButton::clicked, FRecognition, &TRecognitionActions::btnExtractClick);
    connect(FRecognition, &TRecognitionActions::BusyChanged, this, &TFormMain::UpdateButtons);
    connect(FRecognition, &TRecognitionActions::TextProduced, this, &TFormMain::AddTextItem);

    FFileCommands = new TFileCommands(
        this, TFileCommandFields{this, pnlPreview, lvImages, &FImages, edtFolder, edtUrl, edtEmail,
                                 edtPassword, lblStatus, &FRecognition->Job()});
    connect(btnCopyText, &QPushButton::clicked, FFileCommands, &TFileCommands::btnCopyTextClick);
    connect(btnSaveAs, &QPushButton::clicked, FFileCommands, &TFileCommands::btnSaveAsClick);
    connect(btnBrowse, &QPushButton::clicked, FFileCommands, &TFileCommands::btnBrowseClick);
    connect(btnOpenFolder, &QPushButton::clicked, FFileCommands,
            &TFileCommands::btnOpenFolderClick);
    connect(btnItems, &QPushButton::clicked, FFileCommands, &TFileCommands::btnItemsClick);
    connect(btnHistory, &QPushButton::clicked, FFileCommands, &TFileCommands::btnHistoryClick);
    connect(FFileCommands, &TFileCommands::EntryOpened, this, &TFormMain::AddOpenedItem);
    connect(lvImages, &TItemListView::FilesDropped, FFileCommands, &TFileCommands::AddFiles);
    connect(lvImages, &TItemListView::ImagePasted, FFileCommands, &TFileCommands::AddPastedImage);
}

void TFormMain::LayoutDocked() {
    if (grpSettings == nullptr)
        return;
    const int w = width();
    grpSettings->setGeometry(0, 0, w, FGroupHeight);
    pnlControl->setGeometry(0, FGroupHeight, w, FControlHeight);
    // The status line follows the right edge; the buttons never move.
    QRect status = lblStatus->geometry();
    status.setRight(w - FStatusRightGap - 1);
    lblStatus->setGeometry(status);
    const int top = FGroupHeight + FControlHeight;
    splBody->setGeometry(0, top, w, std::max(0, height() - top));
}

void TFormMain::resizeEvent(QResizeEvent* AEvent) {
    QWidget::resizeEvent(AEvent);
    LayoutDocked();
}

// ---------------------------------------------------------------------------------
// Receiving session

void TFormMain::SettingsToControls() {
    edtUrl->setText(FSettings.ServerUrl);
    edtEmail->setText(FSettings.Email);
    edtPassword->setText(FSettings.Password);
    // Shown as the absolute folder it means, so that the user sees where files go.
    edtFolder->setText(SavedFiles::AbsoluteFolder(FSettings.SaveFolder));
    chkAutoSave->setChecked(FSettings.AutoSave);
    chkAutoConnect->setChecked(FSettings.AutoConnect);
    chkRunAtStartup->setChecked(FSettings.RunAtStartup);
}

void TFormMain::ControlsToSettings() {
    FSettings.ServerUrl = TextRules::Trim(edtUrl->text());
    FSettings.Email = TextRules::Trim(edtEmail->text());
    FSettings.Password = edtPassword->text();
    FSettings.SaveFolder = TextRules::Trim(edtFolder->text());
    FSettings.AutoSave = chkAutoSave->isChecked();
    FSettings.AutoConnect = chkAutoConnect->isChecked();
    FSettings.RunAtStartup = chkRunAtStartup->isChecked();
}

void TFormMain::SaveSettings() {
    ControlsToSettings();
    try {
        FSettings.Save();
    } catch (const std::exception& e) {
        // Settings that silently did not stick would be lost at the next start.
        Messages::Show(this, QStringLiteral("設定を保存できませんでした:\r\n") + ErrorMessage(e));
    }
}

void TFormMain::UpdateRunAtStartup(bool AEnable) {
    if (!SetRunAtStartup(AEnable, QCoreApplication::applicationFilePath()))
        Messages::Show(this,
                       AEnable ? QStringLiteral("サインイン時の自動起動を設定できませんでした。")
                               : QStringLiteral("サインイン時の自動起動を解除できませんでした。"));
}

void TFormMain::SetPollTimings(const TPollTimings& ATimings) {
    FSession->SetPollTimings(ATimings);
}

bool TFormMain::IsReceiving() const {
    return FSession->IsReceiving();
}

void TFormMain::StartReceiving() {
    if (FSession->IsReceiving())
        return;
    const QString url = TextRules::Trim(edtUrl->text());
    const QString email = TextRules::Trim(edtEmail->text());
    if (url.isEmpty() || email.isEmpty() || edtPassword->text().isEmpty()) {
        Messages::Show(
            this, QStringLiteral("サーバーURL・メールアドレス・パスワードを入力してください。"));
        return;
    }
    SaveSettings();
    UpdateRunAtStartup(FSettings.RunAtStartup);
    FSession->Start(FSettings.ServerUrl, FSettings.Email, FSettings.Password);
    SetRunningState(true);
}

void TFormMain::StopReceiving() {
    FSession->Stop();
    SetRunningState(false);
    ShowStopped();
}

void TFormMain::SetRunningState(bool ARunning) {
    btnConnect->setEnabled(!ARunning);
    btnStop->setEnabled(ARunning);
    edtUrl->setEnabled(!ARunning);
    edtEmail->setEnabled(!ARunning);
    edtPassword->setEnabled(!ARunning);
}

void TFormMain::ShowStopped() {
    SetStatusText(QStringLiteral("停止中"),
                  palette().color(QPalette::Disabled, QPalette::WindowText));
}

void TFormMain::SetStatusText(const QString& AText, const QColor& AColor) {
    StatusLine::Set(lblStatus, AText, AColor);
}

void TFormMain::SetStatus(const QString& AMessage, bool AConnected) {
    SetStatusText(AMessage, AConnected ? StatusLine::Green : StatusLine::Maroon);
}

void TFormMain::FormCloseQuery() {
    SaveSettings();
    StopReceiving();
}

void TFormMain::closeEvent(QCloseEvent* AEvent) {
    if (!FClosing) {
        FClosing = true;
        FormCloseQuery();
    }
    AEvent->accept();
    // The notification-area icon never keeps the program alive.
    TrayIcon->hide();
}

void TFormMain::ShowMe() {
    if (!isVisible())
        show();
    setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    activateWindow();
    BringWindowToFront(winId());
}

void TFormMain::ShowFromTray() {
    ShowMe();
}

void TFormMain::ExitFromTray() {
    close();
}

// ---------------------------------------------------------------------------------
// Preview

void TFormMain::ShowItem(int AIndex) {
    if (AIndex < 0 || AIndex >= FImages.size())
        return;
    const TReceivedImage& item = FImages.at(AIndex);
    if (item.IsText) {
        pnlPreview->ShowText(item.Text);
        return;
    }
    QByteArray bytes;
    QString error;
    if (!ItemBytes(item, bytes, error)) {
        SetStatusText(QStringLiteral("画像ファイルを読み込めませんでした: ") + error,
                      StatusLine::Maroon);
        lblStatus->setToolTip(item.SavedPath);
    }
    pnlPreview->ShowImage(bytes);
}

void TFormMain::UpdateButtons() {
    const TCommandStates states = CommandStates(pnlPreview->ImageShown(), pnlPreview->TextShown(),
                                                FRecognition != nullptr && FRecognition->IsBusy());
    btnOcrRegion->setEnabled(states.OcrRegion);
    btnOcrFull->setEnabled(states.OcrFull);
    btnRx->setEnabled(states.Rx);
    btnExtract->setEnabled(states.Extract);
    btnCopyText->setEnabled(states.CopyText);
    btnItems->setEnabled(states.Items);
}

void TFormMain::lvImagesSelectItem() {
    const QList<QTreeWidgetItem*> selected = lvImages->selectedItems();
    if (selected.isEmpty())
        return;
    ShowItem(lvImages->indexOfTopLevelItem(selected.first()));
}

// ---------------------------------------------------------------------------------
// Received items and saved files

void TFormMain::InsertItem(const TReceivedImage& AItem) {
    FImages.insert(0, AItem);
    auto* row =
        new QTreeWidgetItem({AItem.ReceivedAt.toString(QStringLiteral("HH:mm")), AItem.Filename,
                             AItem.SavedPath.isEmpty() ? QString() : QStringLiteral("保存済")});
    lvImages->insertTopLevelItem(0, row);
    // Selecting row 0 shows it (through the selection handler); when it is already the
    // selected row, show it directly.
    const QSignalBlocker block(lvImages);
    lvImages->setCurrentItem(row);
}

void TFormMain::AddImageItem(const QString& AFilename, const QString& AContentType,
                             const QByteArray& AData) {
    TReceivedImage item;
    item.Filename = AFilename;
    item.ContentType = AContentType;
    item.Data = AData;
    item.ReceivedAt = TClock::Now();
    QString failure;
    if (AData.isEmpty()) {
        // Nothing to keep: an empty file marked as saved would look like a photo.
        failure = QStringLiteral("空の画像を受信しました（保存していません）: ") + AFilename;
    } else if (chkAutoSave->isChecked()) {
        const ItemSaver::TSaved saved = ItemSaver::SaveImage(
            edtFolder->text(), edtPatientId->text(), AFilename, AContentType, AData);
        item.SavedPath = saved.Path;
        if (!saved.Error.isEmpty())
            failure = QStringLiteral("自動保存に失敗しました: ") + saved.Error;
        else if (saved.Path.isEmpty())
            failure =
                QStringLiteral("保存フォルダが空欄のため、自動保存していません: ") + AFilename;
    }
    if (!item.SavedPath.isEmpty()) {
        item.Data.clear();
        item.DataOnDisk = true;
    }
    InsertItem(item);
    ShowItem(0);
    if (!failure.isEmpty()) {
        SetStatusText(failure, StatusLine::Maroon);
        lblStatus->setToolTip(failure);
        FNotifier->Announce(QStringLiteral("画像を受信しましたが、保存できませんでした"),
                            AFilename);
    } else {
        FNotifier->Announce(QStringLiteral("画像を受信しました"), AFilename);
    }
    // Once this hand-over has ended, its body and the pictures decoded for the last one
    // are freed; give that memory back instead of keeping it in the heap.
    QTimer::singleShot(0, this, [] { ReturnFreeMemoryToSystem(); });
}

void TFormMain::AddOpenedItem(const TReceivedImage& AItem) {
    InsertItem(AItem);
    ShowItem(0);
}

void TFormMain::AddReceivedText(const QString& AName, const QByteArray& ABytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(ABytes);
    if (!utf8.hasError()) {
        AddTextItem(AName, text);
        return;
    }
    // Not readable in its charset: a lossy decoding would destroy it, so the bytes are
    // kept as they came and the user is told.
    TReceivedImage item;
    item.Filename = AName;
    item.ContentType = QStringLiteral("text/plain");
    item.ReceivedAt = TClock::Now();
    item.IsText = true;
    item.Text = QStringLiteral(
        "（文字コードを読み取れないテキストです。受信したままの内容でファイルに保存しました）");
    const ItemSaver::TSaved saved = ItemSaver::SaveTextBytes(edtFolder->text(), AName, ABytes);
    item.SavedPath = saved.Path;
    InsertItem(item);
    ShowItem(0);
    const QString status =
        saved.Path.isEmpty()
            ? QStringLiteral("文字コードを読み取れないテキストを保存できませんでした: ") +
                  saved.Error
            : QStringLiteral("文字コードを読み取れないテキストを、受信したまま保存しました: ") +
                  saved.Path;
    SetStatusText(status, StatusLine::Maroon);
    lblStatus->setToolTip(saved.Path.isEmpty() ? saved.Error : saved.Path);
    FNotifier->Announce(QStringLiteral("読み取れないテキストを受信しました"), AName);
}

void TFormMain::AddTextItem(const QString& AName, const QString& AText) {
    TReceivedImage item;
    item.Filename = AName;
    item.ContentType = QStringLiteral("text/plain");
    item.ReceivedAt = TClock::Now();
    item.IsText = true;
    item.Text = SavedFiles::NormaliseLineBreaks(AText);
    const TBoundedText copied = BoundedForDisplay(item.Text);
    CopyToClipboard(copied.Text);

    const ItemSaver::TSaved saved = ItemSaver::SaveText(edtFolder->text(), AName, item.Text);
    item.SavedPath = saved.Path;

    InsertItem(item);
    ShowItem(0);
    if (!item.SavedPath.isEmpty()) {
        SetStatusText(
            (copied.Cut ? QStringLiteral("長いため先頭部分のみクリップボードにコピー済 ／ 保存先: ")
                        : QStringLiteral("クリップボードにコピー済 ／ 保存先: ")) +
                item.SavedPath,
            StatusLine::Green);
        lblStatus->setToolTip(item.SavedPath);
    } else {
        SetStatusText(QStringLiteral("クリップボードにコピー済 ／ ファイル保存に失敗しました: ") +
                          saved.Error,
                      StatusLine::Maroon);
        lblStatus->setToolTip(saved.Error);
    }
    FNotifier->Announce(QStringLiteral("テキストを取得（クリップボードにコピーしました）"), AName);
}

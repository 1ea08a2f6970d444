#include "ui/fmMain.h"

#include "commands/uCommandStates.h"
#include "imaging/uBitmap.h"
#include "platform/uMemory.h"
#include "platform/uSingleInstance.h"
#include "ui/uApplication.h"
#include "ui/uElidedLabel.h"
#include "ui/uFileCommands.h"
#include "ui/uFormLayout.h"
#include "ui/uItemListArea.h"
#include "ui/uMessages.h"
#include "ui/uNotifier.h"
#include "ui/uPreviewWidget.h"
#include "ui/uRecognitionActions.h"
#include "ui/uSelectionOverlay.h"
#include "ui/uWindowFont.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QSystemTrayIcon>
#include <QVBoxLayout>
#include <algorithm>

TFormMain::TFormMain(QWidget* AParent, int AFontPixelSize)
    : QWidget(AParent), FFontPixelSize(AFontPixelSize) {
    FormCreate();
}

void TFormMain::FormCreate() {
    BuildLayout();
    WireCommands();
    UpdateButtons();
    FConnection->LoadSettings();
    connect(qApp, &QCoreApplication::aboutToQuit, this, &TFormMain::FinishBeforeQuit);
}

// The receiving session stops its worker when it goes, with the window.
TFormMain::~TFormMain() = default;

int TFormMain::TextWidthOf(const QString& AText) const {
    return TFormLayout(font()).TextWidth(AText);
}

int TFormMain::LineHeight() const {
    return TFormLayout(font()).LineHeight();
}

const QList<TReceivedImage>& TFormMain::Items() const {
    return FItemList->Items().All();
}

// ---------------------------------------------------------------------------------
// Building

void TFormMain::BuildLayout() {
    setWindowTitle(QStringLiteral("Pictoport（Scanlume PC受信）"));
    setWindowIcon(AppIcon());
    setFont(WindowFont(FFontPixelSize));
    setAutoFillBackground(true);
    const int clientW = 1100;
    const int clientH = 720;
    resize(clientW, clientH);
    if (QScreen* screen = QApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(clientW / 2, clientH / 2));
    const TFormLayout layout(font());
    FEditH = layout.EditHeight();
    FBtnH = layout.ButtonHeight();

    FConnection = new TConnectionArea(this, layout);

    BuildBody(layout);
    BuildTray();
    LayoutDocked();
}

void TFormMain::BuildBody(const TFormLayout& ALayout) {
    // The list on the left; commands over the preview on the right.
    splBody = new QSplitter(Qt::Horizontal, this);
    splBody->setChildrenCollapsible(false);
    FItemList = new TItemListArea(splBody, [this] {
        return TSaveTarget{FConnection->edtFolder->text(), pnlTool->edtPatientId->text(),
                           FConnection->chkAutoSave->isChecked()};
    });
    lvImages = FItemList->View();
    const int listW =
        lvImages->columnWidth(0) + lvImages->columnWidth(1) + lvImages->columnWidth(2) + 26;
    auto* right = new QWidget(splBody);
    splBody->setStretchFactor(0, 0);
    splBody->setStretchFactor(1, 1);
    const int bodyTop = FConnection->Height();
    splBody->setGeometry(0, bodyTop, width(), height() - bodyTop);
    const int rightW = width() - listW - splBody->handleWidth();
    splBody->setSizes({listW, rightW});
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->setSpacing(0);

    pnlTool = new TToolPanel(right, rightW, ALayout);
    rightLayout->addWidget(pnlTool);

    pnlPreview = new TPreviewPane(right);
    rightLayout->addWidget(pnlPreview, 1);
    pnlPreview->memoText->setFont(WindowFont(15)); // 11 points at 96 DPI
}

void TFormMain::BuildTray() {
    FTrayMenu = new QMenu(this);
    FTrayMenu->addAction(QStringLiteral("表示(&S)"), this, &TFormMain::ShowFromTray);
    FTrayMenu->addAction(QStringLiteral("バージョン情報(&A)"), this, &TFormMain::ShowAbout);
    FTrayMenu->addSeparator();
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
}

void TFormMain::WireCommands() {
    connect(FConnection, &TConnectionArea::RunningChanged, this, &TFormMain::UpdateButtons);
    connect(FConnection, &TConnectionArea::ImageReceived, FItemList, &TItemListArea::AddImageItem);
    connect(FConnection, &TConnectionArea::TextReceived, FItemList,
            &TItemListArea::AddReceivedText);

    connect(FItemList, &TItemListArea::ImageToShow, pnlPreview, &TPreviewPane::ShowImage);
    connect(FItemList, &TItemListArea::TextToShow, pnlPreview, &TPreviewPane::ShowText);
    connect(FItemList, &TItemListArea::StatusChanged, this, &TFormMain::ShowStatus);
    connect(FItemList, &TItemListArea::Announce, FNotifier,
            [this](const QString& ATitle, const QString& AText) {
                FNotifier->Announce(ATitle, AText);
            });

    connect(pnlTool->btnRotL, &QPushButton::clicked, pnlPreview, &TPreviewPane::RotateLeft);
    connect(pnlTool->btnRotR, &QPushButton::clicked, pnlPreview, &TPreviewPane::RotateRight);
    connect(pnlPreview, &TPreviewPane::Changed, this, &TFormMain::UpdateButtons);

    FRecognition = new TRecognitionActions(
        this, pnlPreview,
        TRecognitionContext{[this] { return FConnection->Account(); },
                            [this] { return pnlTool->edtPatientId->text(); },
                            [this] { return FFileCommands->SaveFolderPath(); }});
    connect(pnlTool->btnOcrRegion, &QPushButton::clicked, FRecognition,
            &TRecognitionActions::btnOcrRegionClick);
    connect(pnlTool->btnOcrFull, &QPushButton::clicked, FRecognition,
            &TRecognitionActions::btnOcrFullClick);
    connect(pnlTool->btnRx, &QPushButton::clicked, FRecognition, &TRecognitionActions::btnRxClick);
    connect(pnlTool->btnExtract, &QPushButton::clicked, FRecognition,
            &TRecognitionActions::btnExtractClick);
    connect(FRecognition, &TRecognitionActions::BusyChanged, this, &TFormMain::UpdateButtons);
    connect(FRecognition, &TRecognitionActions::TextProduced, FItemList,
            &TItemListArea::AddTextItem);
    connect(FRecognition, &TRecognitionActions::StatusChanged, this, &TFormMain::ShowStatus);

    FFileCommands = new TFileCommands(
        this, TFileCommandContext{
                  this, FItemList, pnlPreview, &FRecognition->Job(),
                  [this] { return FConnection->edtFolder->text(); },
                  [this](const QString& AFolder) { FConnection->edtFolder->setText(AFolder); },
                  [this] { return FConnection->Account(); },
                  [this] { return FRecognition->ItemOrder(); }});
    connect(pnlTool->btnCopyText, &QPushButton::clicked, FFileCommands,
            &TFileCommands::btnCopyTextClick);
    connect(pnlTool->btnSaveAs, &QPushButton::clicked, FFileCommands,
            &TFileCommands::btnSaveAsClick);
    connect(FConnection->btnBrowse, &QPushButton::clicked, FFileCommands,
            &TFileCommands::btnBrowseClick);
    connect(pnlTool->btnOpenFolder, &QPushButton::clicked, FFileCommands,
            &TFileCommands::btnOpenFolderClick);
    connect(pnlTool->btnItems, &QPushButton::clicked, FFileCommands, &TFileCommands::btnItemsClick);
    connect(pnlTool->btnHistory, &QPushButton::clicked, FFileCommands,
            &TFileCommands::btnHistoryClick);
    connect(FFileCommands, &TFileCommands::EntryOpened, FItemList, &TItemListArea::AddOpenedItem);
    connect(FFileCommands, &TFileCommands::StatusChanged, this, &TFormMain::ShowStatus);
    connect(lvImages, &TItemListView::FilesDropped, FFileCommands, &TFileCommands::AddFiles);
    connect(lvImages, &TItemListView::ImagePasted, FFileCommands, &TFileCommands::AddPastedImage);
}

void TFormMain::LayoutDocked() {
    if (splBody == nullptr)
        return;
    FConnection->Place(width());
    const int top = FConnection->Height();
    splBody->setGeometry(0, top, width(), std::max(0, height() - top));
}

void TFormMain::resizeEvent(QResizeEvent* AEvent) {
    QWidget::resizeEvent(AEvent);
    LayoutDocked();
}

// ---------------------------------------------------------------------------------
// The areas' operations, for the demo and tests

void TFormMain::AddImageItem(const QString& AFilename, const QString& AContentType,
                             const QByteArray& AData) {
    FItemList->AddImageItem(AFilename, AContentType, AData);
}

void TFormMain::AddReceivedText(const QString& AName, const QByteArray& ABytes) {
    FItemList->AddReceivedText(AName, ABytes);
}

void TFormMain::AddTextItem(const QString& AName, const QString& AText) {
    FItemList->AddTextItem(AName, AText);
}

void TFormMain::AddOpenedItem(const TReceivedImage& AItem) {
    FItemList->AddOpenedItem(AItem);
}

void TFormMain::ShowItem(int AIndex) {
    FItemList->ShowItem(AIndex);
}

void TFormMain::SetStatus(const QString& AMessage, bool AConnected) {
    FConnection->ShowWorkerStatus(AMessage, AConnected);
}

void TFormMain::ShowStatus(const QString& AText, const QColor& AColor, const QString& AToolTip) {
    FConnection->ShowStatus(AText, AColor, AToolTip);
}

void TFormMain::UpdateButtons() {
    const TCommandStates states =
        CommandStates(pnlPreview->ImageShown(), pnlPreview->TextShown(),
                      FRecognition != nullptr && FRecognition->IsBusy(), IsReceiving());
    FConnection->btnConnect->setEnabled(states.Connect);
    FConnection->btnStop->setEnabled(states.Stop);
    for (QLineEdit* box : {FConnection->edtUrl, FConnection->edtEmail, FConnection->edtPassword})
        box->setEnabled(states.AccountEditable);
    pnlTool->btnOcrRegion->setEnabled(states.OcrRegion);
    pnlTool->btnOcrFull->setEnabled(states.OcrFull);
    pnlTool->btnRx->setEnabled(states.Rx);
    pnlTool->btnExtract->setEnabled(states.Extract);
    pnlTool->btnCopyText->setEnabled(states.CopyText);
    pnlTool->btnItems->setEnabled(states.Items);
}

// ---------------------------------------------------------------------------------
// Showing and closing

void TFormMain::changeEvent(QEvent* AEvent) {
    QWidget::changeEvent(AEvent);
    // Minimised, the window may stay so for hours: the spare picture buffers kept for the
    // next photo go back to the system.
    if (AEvent->type() == QEvent::WindowStateChange && isMinimized()) {
        TBitmap24::DropSpareMemory();
        ReturnFreeMemoryToSystem();
    }
}

void TFormMain::closeEvent(QCloseEvent* AEvent) {
    FinishBeforeQuit();
    AEvent->accept();
    // The notification-area icon never keeps the program alive.
    TrayIcon->hide();
}

void TFormMain::FinishBeforeQuit() {
    if (FClosing)
        return;
    FClosing = true;
    FormCloseQuery();
}

void TFormMain::FormCloseQuery() {
    FConnection->SaveSettings();
    FConnection->StopForClose();
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

void TFormMain::ShowAbout() {
    Messages::Show(
        this,
        QStringLiteral("Pictoport %1\r\nスマートフォンから送られた写真とテキストを受信します。")
            .arg(QStringLiteral(PICTOPORT_VERSION)));
}

void TFormMain::ExitFromTray() {
    close();
}

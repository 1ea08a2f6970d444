#pragma once
#include "imaging/uBitmap.h"
#include "settings/uSettings.h"
#include "ui/uItemListView.h"
#include "ui/uPreviewPane.h"
#include "ui/uReceivedItem.h"
#include "ui/uScale.h"
#include "worker/uPollThread.h"

#include <QList>
#include <QWidget>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QSystemTrayIcon;
class QTreeWidget;
class TElidedLabel;
class TFileCommands;
class TNotifier;
class TPreviewWidget;
class TReceivingSession;
class TRecognitionActions;
class TSelectionOverlay;

// The main window: builds the controls and wires the areas that own the work: the
// receiving session, the list of received items, the preview pane with its selection,
// and the recognition commands. UpdateButtons is the one place that decides which
// commands apply.
class TFormMain : public QWidget {
    Q_OBJECT
public:
    // The window font is 12 pixels at 96 DPI; tests pass other sizes to see the layout
    // follow the font.
    explicit TFormMain(QWidget* AParent = nullptr, int AFontPixelSize = 12);
    ~TFormMain() override;

    // 96-DPI design length scaled by a factor in whole percent: V × K / 100, halves away
    // from zero. Qt's own high-DPI scaling works in device-independent pixels, so the
    // window's factor is 100 and the display's scale comes on top.
    static int ScalePx(int AValue, int AScalePercent) { return ::ScalePx(AValue, AScalePercent); }
    int ScalePx(int AValue) const { return ::ScalePx(AValue, FScalePercent); }
    int TextWidthOf(const QString& AText) const;
    int LineHeight() const;

    void StartReceiving();
    void StopReceiving();
    void SetStatus(const QString& AMessage, bool AConnected);
    void ShowFromTray();
    void ExitFromTray();
    void ShowMe(); // a later start of the program asked for this window

    void AddImageItem(const QString& AFilename, const QString& AContentType,
                      const QByteArray& AData);
    void AddReceivedText(const QString& AName, const QByteArray& ABytes);
    void AddTextItem(const QString& AName, const QString& AText);
    // An entry made from a file on disk or from the clipboard: listed and shown.
    void AddOpenedItem(const TReceivedImage& AItem);

    void ShowItem(int AIndex);
    void UpdateButtons();

    // Tests shorten the worker's pauses.
    void SetPollTimings(const TPollTimings& ATimings);

    // For tests and the demo.
    const QList<TReceivedImage>& Items() const { return FImages; }
    const TBitmap24* CurrentBitmap() const { return pnlPreview->CurrentBitmap(); }
    bool IsReceiving() const;
    TNotifier* Notifier() const { return FNotifier; }
    TPreviewPane* Preview() const { return pnlPreview; }
    TRecognitionActions* Recognition() const { return FRecognition; }
    TFileCommands* FileCommands() const { return FFileCommands; }

    // Controls, named as they are laid out.
    QGroupBox* grpSettings = nullptr;
    QLineEdit* edtUrl = nullptr;
    QLineEdit* edtEmail = nullptr;
    QLineEdit* edtPassword = nullptr;
    QLineEdit* edtFolder = nullptr;
    QPushButton* btnBrowse = nullptr;
    QCheckBox* chkAutoSave = nullptr;
    QCheckBox* chkAutoConnect = nullptr;
    QCheckBox* chkRunAtStartup = nullptr;
    QWidget* pnlControl = nullptr;
    QPushButton* btnConnect = nullptr;
    QPushButton* btnStop = nullptr;
    TElidedLabel* lblStatus = nullptr;
    TItemListView* lvImages = nullptr;
    TPreviewPane* pnlPreview = nullptr;
    TPreviewWidget* imgPreview = nullptr;
    TSelectionOverlay* pbSelect = nullptr;
    QPlainTextEdit* memoText = nullptr;
    QLabel* lblPatientId = nullptr;
    QLineEdit* edtPatientId = nullptr;
    QPushButton* btnRotL = nullptr;
    QPushButton* btnRotR = nullptr;
    QPushButton* btnOcrRegion = nullptr;
    QPushButton* btnOcrFull = nullptr;
    QPushButton* btnRx = nullptr;
    QPushButton* btnExtract = nullptr;
    QPushButton* btnCopyText = nullptr;
    QPushButton* btnItems = nullptr;
    QLabel* lblHint = nullptr;
    QPushButton* btnSaveAs = nullptr;
    QPushButton* btnOpenFolder = nullptr;
    QPushButton* btnHistory = nullptr;
    QSystemTrayIcon* TrayIcon = nullptr;
    QWidget* pnlTool = nullptr;
    QSplitter* splBody = nullptr;

    // Metrics of the layout, in device-independent pixels.
    int FLabelW = 0;
    int FEditLeft = 0;
    int FEditH = 0;
    int FBtnH = 0;

protected:
    void closeEvent(QCloseEvent* AEvent) override;
    void resizeEvent(QResizeEvent* AEvent) override;

private:
    void FormCreate();
    void FormCloseQuery();
    void BuildLayout();
    QPushButton* AddButton(QWidget* AParent, const QString& ACaption, int& AX, int& AY,
                           int AMinWidth);
    QCheckBox* AddCheckBox(QWidget* AParent, const QString& ACaption, int AX, int AY);
    QLineEdit* AddLabeledEdit(const QString& ACaption, int AY, bool AIsPassword);
    void NextButtonRow(int& AX, int& AY) const;
    void LayoutDocked();

    void SettingsToControls();
    void ControlsToSettings();
    void SaveSettings();
    void PasswordOpened(const TOpenedPassword& AResult);
    void AutoConnect();
    void ShowStopped();
    void UpdateRunAtStartup(bool AEnable);
    void SetRunningState(bool ARunning);
    void SetStatusText(const QString& AText, const QColor& AColor);
    void InsertItem(const TReceivedImage& AItem);
    void lvImagesSelectItem();
    void WireCommands();

    TAppSettings FSettings;
    TReceivingSession* FSession = nullptr;
    TRecognitionActions* FRecognition = nullptr;
    TFileCommands* FFileCommands = nullptr;
    QList<TReceivedImage> FImages;
    bool FClosing = false;

    int FScalePercent = 100;
    int FFontPixelSize = 12;
    int FGroupHeight = 0;
    int FControlHeight = 0;
    int FStatusRightGap = 0;
    QMenu* FTrayMenu = nullptr;
    TNotifier* FNotifier = nullptr;
};

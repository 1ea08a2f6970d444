#pragma once
#include "imaging/uBitmap.h"
#include "items/uReceivedItem.h"
#include "ui/uConnectionArea.h"
#include "ui/uItemListView.h"
#include "ui/uPreviewPane.h"
#include "ui/uToolPanel.h"
#include "worker/uPollThread.h"

#include <QList>
#include <QWidget>
#include <memory>

class QMenu;
class QPlainTextEdit;
class QSplitter;
class QSystemTrayIcon;
class TFileCommands;
class TFormLayout;
class TItemListArea;
class TNotifier;
class TPreviewWidget;
class TRecognitionActions;
class TSelectionOverlay;

// The main window: builds its areas and wires them. The connection area (settings,
// start and stop, status line), the list of received items, the tool panel, the preview
// pane, the recognition commands and the file commands each own their state;
// UpdateButtons is the one place that decides which commands apply.
class TFormMain : public QWidget {
    Q_OBJECT
public:
    // The window font is 12 pixels at 96 DPI; tests pass other sizes to see the layout
    // follow the font.
    explicit TFormMain(QWidget* AParent = nullptr, int AFontPixelSize = 12);
    ~TFormMain() override;

    int TextWidthOf(const QString& AText) const;
    int LineHeight() const;

    void StartReceiving() { FConnection->StartReceiving(); }
    void StopReceiving() { FConnection->StopReceiving(); }
    bool IsReceiving() const { return FConnection->IsReceiving(); }
    void SetStatus(const QString& AMessage, bool AConnected);
    void ShowFromTray();
    void ExitFromTray();
    void ShowAbout(); // the version, from the notification-area menu
    void ShowMe();    // a later start of the program asked for this window

    void AddImageItem(const QString& AFilename, const QString& AContentType,
                      const QByteArray& AData);
    void AddReceivedText(const QString& AName, const QByteArray& ABytes);
    void AddTextItem(const QString& AName, const QString& AText);
    void AddOpenedItem(const TReceivedImage& AItem);
    void ShowItem(int AIndex);
    void UpdateButtons();

    // Tests shorten the worker's pauses.
    void SetPollTimings(const TPollTimings& ATimings) { FConnection->SetPollTimings(ATimings); }

    // For tests and the demo.
    const QList<TReceivedImage>& Items() const;
    const TBitmap24* CurrentBitmap() const { return pnlPreview->CurrentBitmap(); }
    TNotifier* Notifier() const { return FNotifier; }
    TPreviewPane* Preview() const { return pnlPreview; }
    TRecognitionActions* Recognition() const { return FRecognition; }
    TFileCommands* FileCommands() const { return FFileCommands; }

    TConnectionArea* Connection() const { return FConnection; }

    // The areas' widgets, named as they are laid out.
    TItemListView* lvImages = nullptr;
    TToolPanel* pnlTool = nullptr;
    TPreviewPane* pnlPreview = nullptr;
    QSplitter* splBody = nullptr;
    QSystemTrayIcon* TrayIcon = nullptr;

    // Metrics of the layout, in device-independent pixels.
    int FEditH = 0;
    int FBtnH = 0;

protected:
    void changeEvent(QEvent* AEvent) override;
    void closeEvent(QCloseEvent* AEvent) override;
    void resizeEvent(QResizeEvent* AEvent) override;

private:
    void FormCreate();
    void FormCloseQuery();
    // Closing, or a quit that did not come through the window (a Windows session ending).
    void FinishBeforeQuit();
    void BuildLayout();
    void BuildBody(const TFormLayout& ALayout);
    void BuildTray();
    void WireCommands();
    void ShowStatus(const QString& AText, const QColor& AColor, const QString& AToolTip);
    void LayoutDocked();

    TConnectionArea* FConnection = nullptr;
    TItemListArea* FItemList = nullptr;
    TRecognitionActions* FRecognition = nullptr;
    TFileCommands* FFileCommands = nullptr;
    TNotifier* FNotifier = nullptr;
    QMenu* FTrayMenu = nullptr;
    int FFontPixelSize = 12;
    bool FClosing = false;
};

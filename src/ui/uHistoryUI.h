#pragma once
#include "files/uHistoryScan.h"

#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>

class QEvent;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QResizeEvent;
class QTreeView;
class THistoryModel;

// The saved-file history window: the listed files of the save folder, newest first,
// narrowed while the user types, and the one chosen handed back. It only reads the folder.
class THistoryForm : public QDialog {
    Q_OBJECT
public:
    // Builds the window, scans AFolder and fills the table, before it is shown.
    // AItemOrder: the account's extraction items, the order of the trend window's rows.
    THistoryForm(QWidget* AOwner, const QString& AFolder, const QStringList& AItemOrder = {});
    ~THistoryForm() override;

    // The chosen file's full path; empty until a file has been opened.
    const QString& Selected() const { return FSelected; }
    const QString& Folder() const { return FFolder; }
    const QList<TFileEntry>& All() const { return FAll; }
    const QList<TFileEntry>& Shown() const { return FShown; }

    // Scans the folder into All (busy cursor; a folder that cannot be listed is reported).
    void LoadFiles();
    // Shown := the entries of All that pass the search box; refills the table and the
    // count label, and selects the first row.
    void ApplyFilter();
    // The patient of the trend window: the selected row's patient number, else the one in
    // the search box (with or without "pt"); empty when neither has one.
    QString TrendPatientId() const;

    QLabel* lblFind = nullptr;
    QLineEdit* FEdtFind = nullptr;
    QPushButton* btnClear = nullptr;
    QPushButton* btnReload = nullptr;
    QLabel* FLblCount = nullptr;
    QTreeView* FLV = nullptr;
    QPushButton* btnOpen = nullptr;
    QPushButton* btnOpenFolder = nullptr;
    QPushButton* btnTrend = nullptr;
    QPushButton* btnClose = nullptr;

protected:
    bool eventFilter(QObject* AWatched, QEvent* AEvent) override;
    void keyPressEvent(QKeyEvent* AEvent) override;
    void resizeEvent(QResizeEvent* AEvent) override;

private:
    // What the count label says of older files the scan left out; empty when none.
    QString LeftOutNote() const;
    void OpenSelected();
    void ClearClick();
    void ReloadClick();
    void OpenFolderClick();
    void TrendClick();
    void LayoutDocked();

    QString FFolder;
    QStringList FItemOrder;
    QList<TFileEntry> FAll;
    qsizetype FLeftOut = 0; // older files the scan did not keep
    QList<TFileEntry> FShown;
    QString FSelected;
    HistoryScan::TRegionalFormat FFormat;
    THistoryModel* FModel = nullptr;

    QWidget* pnlTop = nullptr;
    QWidget* pnlBottom = nullptr;
    int FBandHeight = 0;
    int FRightGap = 0;
};

// The saved-file history window. True when the user chose a file; its full path is then
// in ASelected.
bool ShowHistory(QWidget* AOwner, const QString& AFolder, QString& ASelected,
                 const QStringList& AItemOrder = {});

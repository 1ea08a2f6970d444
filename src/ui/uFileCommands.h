#pragma once
#include "items/uReceivedItem.h"
#include "service/uAccount.h"

#include <QColor>
#include <QImage>
#include <QObject>
#include <QString>
#include <functional>

class QWidget;
class TItemListArea;
class TPreviewPane;
class TRecognitionJob;

// What the text and file commands work on: the areas they read, and what they read of
// the settings at the moment of a press.
struct TFileCommandContext {
    QWidget* Window = nullptr; // owner of their dialogs and messages
    const TItemListArea* List = nullptr;
    const TPreviewPane* Preview = nullptr;
    TRecognitionJob* Job = nullptr;                // holds the shared service client
    std::function<QString()> Folder;               // the save folder box, as typed
    std::function<void(const QString&)> SetFolder; // a folder chosen with 参照...
    std::function<TAccount()> Account;
    std::function<QStringList()> ItemOrder; // the account's items, for the trend window
};

// Copy the shown text, save an entry under a chosen name, choose and open the save
// folder, open the item manager, browse the saved files and open one again; and files
// dropped or pasted into the list.
class TFileCommands : public QObject {
    Q_OBJECT
public:
    TFileCommands(QObject* AParent, TFileCommandContext AContext);

    void btnCopyTextClick();
    void btnSaveAsClick();
    void btnBrowseClick();
    void btnOpenFolderClick();
    void btnItemsClick();
    void btnHistoryClick();

    // The window's service client, made if needed and signed in. False with the reason.
    bool EnsureSignedIn(QString& AError);
    // The save folder field, trimmed; the Documents fall-back when it is empty.
    QString SaveFolderPath() const;
    // A PDF goes to its default application; anything else becomes an entry at the top.
    void OpenPastFile(const QString& APath);

    // Files dropped or pasted into the list: each as OpenPastFile does, but not marked
    // as saved, since none of them is in the save folder.
    void AddFiles(const QStringList& APaths);
    // A picture from the clipboard, as a PNG entry named after the time.
    void AddPastedImage(const QImage& AImage);

Q_SIGNALS:
    // A new entry for the top of the list, to be shown.
    void EntryOpened(const TReceivedImage& AItem);
    void StatusChanged(const QString& AText, const QColor& AColor, const QString& AToolTip);

private:
    bool OpenFile(const QString& APath, bool AMarkSaved);
    void SetStatus(const QString& AText, const QColor& AColor, const QString& AToolTip = QString());

    TFileCommandContext FContext;
};

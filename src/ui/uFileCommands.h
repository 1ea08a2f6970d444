#pragma once
#include "ui/uReceivedItem.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QString>

class QLabel;
class QLineEdit;
class QTreeWidget;
class QWidget;
class TPreviewPane;
class TRecognitionJob;

// What the text and file commands read and write in the window.
struct TFileCommandFields {
    QWidget* Window = nullptr;
    TPreviewPane* Preview = nullptr;
    QTreeWidget* List = nullptr;
    const QList<TReceivedImage>* Items = nullptr; // row i of List is entry i
    QLineEdit* Folder = nullptr;
    QLineEdit* Url = nullptr;
    QLineEdit* Email = nullptr;
    QLineEdit* Password = nullptr;
    QLabel* Status = nullptr;
    TRecognitionJob* Job = nullptr; // holds the shared service client
};

// Copy the shown text, save an entry under a chosen name, choose and open the save
// folder, open the item manager, browse the saved files and open one again; and files
// dropped or pasted into the list.
class TFileCommands : public QObject {
    Q_OBJECT
public:
    TFileCommands(QObject* AParent, const TFileCommandFields& AFields);

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

private:
    bool OpenFile(const QString& APath, bool AMarkSaved);
    void SetStatus(const QString& AText, const QColor& AColor, const QString& AToolTip = QString());

    TFileCommandFields FFields;
};

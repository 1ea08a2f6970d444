#pragma once
#include "items/uReceivedItems.h"

#include <QColor>
#include <QObject>
#include <functional>

class QWidget;
class TItemListView;

// The list of received and opened entries, newest first, over the item list of the
// core: receiving puts an entry at the top, saves it and says how that went; choosing a
// row asks for it to be shown.
class TItemListArea : public QObject {
    Q_OBJECT
public:
    // Builds the list view inside AParent. ASaveTarget is read as each item arrives.
    TItemListArea(QWidget* AParent, std::function<TSaveTarget()> ASaveTarget);

    TItemListView* View() const { return FView; }
    const TReceivedItems& Items() const { return FItems; }
    // The selected entry, else the newest; -1 when the list is empty.
    int ChosenIndex() const;

    void AddImageItem(const QString& AFilename, const QString& AContentType,
                      const QByteArray& AData);
    void AddReceivedText(const QString& AName, const QByteArray& ABytes);
    void AddTextItem(const QString& AName, const QString& AText);
    // An entry made from a file on disk or from the clipboard: listed and shown.
    void AddOpenedItem(const TReceivedImage& AItem);
    void ShowItem(int AIndex);

Q_SIGNALS:
    void ImageToShow(const QByteArray& AData);
    void TextToShow(const QString& AText);
    void StatusChanged(const QString& AText, const QColor& AColor, const QString& AToolTip);
    void Announce(const QString& ATitle, const QString& AText);

private:
    // The newest entry of the core list becomes row 0, selected and shown.
    void ShowNewEntry();
    // A text too large to show: saved byte for byte on a pool thread, then listed.
    void AddLargeText(const QString& AName, const QByteArray& ABytes);
    void LargeTextSaved(const QString& AName, const QByteArray& ABytes,
                        const ItemSaver::TSaved& ASaved);
    void SelectionChanged();

    TReceivedItems FItems;
    TItemListView* FView;
    std::function<TSaveTarget()> FSaveTarget;
};

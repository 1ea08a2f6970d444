#pragma once
#include "items/uItemSaver.h"
#include "items/uReceivedItem.h"

#include <QByteArray>
#include <QList>
#include <QString>

// Where a received item goes, read from the window when the item arrives.
struct TSaveTarget {
    QString Folder;    // the save folder box, as typed
    QString PatientId; // the patient number box, as typed
    bool AutoSave = false;
};

// The received and opened entries, newest first: the one owner of their texts and of
// the bytes not yet saved. Each Add makes the entry, saves it where the rules say and
// puts it at the top; the caller tells the user what was returned.
class TReceivedItems {
public:
    int Count() const { return int(FImages.size()); }
    bool IsEmpty() const { return FImages.isEmpty(); }
    const TReceivedImage& At(int AIndex) const { return FImages.at(AIndex); }
    const QList<TReceivedImage>& All() const { return FImages; }

    // The bytes of an entry as Save as writes them: a picture's or a text's own bytes as
    // received or read, from memory or from its file; a text made here as text files are
    // saved (UTF-8 with its mark).
    bool Bytes(int AIndex, QByteArray& ABytes, QString& AError) const;

    // A received picture, saved when auto-saving is on. The failure to report, if any:
    // an empty body is listed but never saved, a failed save keeps the bytes in memory.
    QString AddImage(const TSaveTarget& ATarget, const QString& AFilename,
                     const QString& AContentType, const QByteArray& AData);
    // A text (received or produced), line breaks made CR LF, always saved.
    ItemSaver::TSaved AddText(const QString& AFolder, const QString& AName, const QString& AText);
    // A received text whose charset cannot be read: saved byte for byte, listed with a
    // note; its bytes stay with the entry whether or not the save worked.
    ItemSaver::TSaved AddUnreadableText(const QString& AFolder, const QString& AName,
                                        const QByteArray& ABytes);
    // A text too large to show (over MaxConvertedTextBytes), saved (ASaved) byte for byte
    // elsewhere; listed with a note, its bytes on disk or, when the save failed, here.
    void AddLargeText(const QString& AName, const QByteArray& ABytes,
                      const ItemSaver::TSaved& ASaved);
    // An entry made from a file or the clipboard, as it is.
    void AddOpened(const TReceivedImage& AItem);

private:
    QList<TReceivedImage> FImages;
};

#include "items/uReceivedItems.h"

#include "common/uClock.h"
#include "files/uSavedFiles.h"
#include "items/uPastFile.h"

bool TReceivedItems::Bytes(int AIndex, QByteArray& ABytes, QString& AError) const {
    const TReceivedImage& item = FImages.at(AIndex);
    // A text made here is written as text files are saved; one that came with bytes of
    // its own (read from a file, or not readable) keeps those.
    if (item.IsText && !item.DataOnDisk && item.Data.isEmpty()) {
        ABytes = SavedFiles::TextFileBytes(item.Text);
        return true;
    }
    return ItemBytes(item, ABytes, AError);
}

QString TReceivedItems::AddImage(const TSaveTarget& ATarget, const QString& AFilename,
                                 const QString& AContentType, const QByteArray& AData) {
    TReceivedImage item;
    item.Filename = AFilename;
    item.ContentType = AContentType;
    item.Data = AData;
    item.ReceivedAt = TClock::Now();
    QString failure;
    if (AData.isEmpty()) {
        // Nothing to keep: an empty file marked as saved would look like a photo.
        failure = QStringLiteral("空の画像を受信しました（保存していません）: ") + AFilename;
    } else if (ATarget.AutoSave) {
        const ItemSaver::TSaved saved =
            ItemSaver::SaveImage(ATarget.Folder, ATarget.PatientId, AFilename, AContentType, AData);
        item.SavedPath = saved.Path;
        if (!saved.Error.isEmpty())
            failure = QStringLiteral("自動保存に失敗しました: ") + saved.Error;
        else if (saved.Path.isEmpty())
            failure =
                QStringLiteral("保存フォルダが空欄のため、自動保存していません: ") + AFilename;
    }
    if (!item.SavedPath.isEmpty()) {
        // A day of photos must not pile up in memory: saved bytes are read back on demand.
        item.Data.clear();
        item.DataOnDisk = true;
    }
    FImages.insert(0, std::move(item));
    return failure;
}

namespace {

TReceivedImage TextEntry(const QString& AName, const QString& AText) {
    TReceivedImage item;
    item.Filename = AName;
    item.ContentType = QStringLiteral("text/plain");
    item.ReceivedAt = TClock::Now();
    item.IsText = true;
    item.Text = AText;
    return item;
}

// A text that came as bytes keeps them: in its file when saved, else in the entry, for
// another try with Save as.
void KeepBytes(TReceivedImage& AItem, const ItemSaver::TSaved& ASaved, const QByteArray& ABytes) {
    AItem.SavedPath = ASaved.Path;
    if (ASaved.Path.isEmpty())
        AItem.Data = ABytes;
    else
        AItem.DataOnDisk = true;
}

} // namespace

ItemSaver::TSaved TReceivedItems::AddText(const QString& AFolder, const QString& AName,
                                          const QString& AText) {
    TReceivedImage item = TextEntry(AName, SavedFiles::NormaliseLineBreaks(AText));
    const ItemSaver::TSaved saved = ItemSaver::SaveText(AFolder, AName, item.Text);
    item.SavedPath = saved.Path;
    FImages.insert(0, std::move(item));
    return saved;
}

ItemSaver::TSaved TReceivedItems::AddUnreadableText(const QString& AFolder, const QString& AName,
                                                    const QByteArray& ABytes) {
    // A lossy decoding would destroy it: the bytes are kept as they came.
    const ItemSaver::TSaved saved = ItemSaver::SaveTextBytes(AFolder, AName, ABytes);
    TReceivedImage item = TextEntry(
        AName, saved.Path.isEmpty()
                   ? QStringLiteral("（文字コードを読み取れないテキストです。保存できませんでした"
                                    "。「名前を付けて保存」で受信したままの内容を保存できます）")
                   : QStringLiteral("（文字コードを読み取れないテキストです。受信したままの内容"
                                    "でファイルに保存しました）"));
    KeepBytes(item, saved, ABytes);
    FImages.insert(0, std::move(item));
    return saved;
}

void TReceivedItems::AddLargeText(const QString& AName, const QByteArray& ABytes,
                                  const ItemSaver::TSaved& ASaved) {
    TReceivedImage item = TextEntry(
        AName, ASaved.Path.isEmpty()
                   ? QStringLiteral("（大きすぎるため表示できないテキストです。保存できませんでした"
                                    "。「名前を付けて保存」で受信したままの内容を保存できます）")
                   : QStringLiteral("（大きすぎるため表示できないテキストです。受信したままの内容"
                                    "でファイルに保存しました）"));
    KeepBytes(item, ASaved, ABytes);
    FImages.insert(0, std::move(item));
}

void TReceivedItems::AddOpened(const TReceivedImage& AItem) {
    TReceivedImage item = AItem;
    // A text from the save folder has its bytes there; held here they would double it.
    if (item.IsText && !item.SavedPath.isEmpty() && !item.Data.isEmpty()) {
        item.Data.clear();
        item.DataOnDisk = true;
    }
    FImages.insert(0, std::move(item));
}

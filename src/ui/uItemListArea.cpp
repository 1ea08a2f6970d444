#include "ui/uItemListArea.h"

#include "platform/uMemory.h"
#include "service/uTextCharset.h"
#include "ui/uClipboard.h"
#include "ui/uDialogLook.h"
#include "ui/uItemListView.h"
#include "ui/uStatusLine.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QPointer>
#include <QSignalBlocker>
#include <QStringDecoder>
#include <QThreadPool>
#include <QTimer>

TItemListArea::TItemListArea(QWidget* AParent, std::function<TSaveTarget()> ASaveTarget)
    : QObject(AParent), FView(new TItemListView(AParent)), FSaveTarget(std::move(ASaveTarget)) {
    FView->setAccessibleName(QStringLiteral("受信した項目"));
    FView->setColumnCount(3);
    FView->setHeaderLabels(
        {QStringLiteral("時刻"), QStringLiteral("ファイル名"), QStringLiteral("保存")});
    FView->setRootIsDecorated(false);
    FView->setUniformRowHeights(true);
    FView->setSelectionBehavior(QAbstractItemView::SelectRows);
    FView->setSelectionMode(QAbstractItemView::SingleSelection);
    FView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FView->header()->setStretchLastSection(false);
    const QFontMetrics metrics(FView->font());
    FView->setColumnWidth(0, metrics.horizontalAdvance(QStringLiteral("00:00")) + 20);
    FView->setColumnWidth(1, 150);
    FView->setColumnWidth(2, metrics.horizontalAdvance(QStringLiteral("保存済")) + 18);
    KeepSelectionVisible(FView); // also when the list loses the focus
    connect(FView, &QTreeWidget::itemSelectionChanged, this, &TItemListArea::SelectionChanged);
}

int TItemListArea::ChosenIndex() const {
    if (QTreeWidgetItem* current = FView->currentItem(); current && current->isSelected())
        return FView->indexOfTopLevelItem(current);
    return FItems.IsEmpty() ? -1 : 0;
}

void TItemListArea::ShowNewEntry() {
    const TReceivedImage& item = FItems.At(0);
    auto* row =
        new QTreeWidgetItem({item.ReceivedAt.toString(QStringLiteral("HH:mm")), item.Filename,
                             item.SavedPath.isEmpty() ? QString() : QStringLiteral("保存済")});
    FView->insertTopLevelItem(0, row);
    {
        // Shown below whether or not row 0 was already the selected one.
        const QSignalBlocker block(FView);
        FView->setCurrentItem(row);
    }
    ShowItem(0);
}

void TItemListArea::SelectionChanged() {
    const QList<QTreeWidgetItem*> selected = FView->selectedItems();
    if (!selected.isEmpty())
        ShowItem(FView->indexOfTopLevelItem(selected.first()));
}

void TItemListArea::ShowItem(int AIndex) {
    if (AIndex < 0 || AIndex >= FItems.Count())
        return;
    const TReceivedImage& item = FItems.At(AIndex);
    if (item.IsText) {
        Q_EMIT TextToShow(item.Text);
        return;
    }
    QByteArray bytes;
    QString error;
    if (!FItems.Bytes(AIndex, bytes, error))
        Q_EMIT StatusChanged(QStringLiteral("画像ファイルを読み込めませんでした: ") + error,
                             StatusLine::Maroon, item.SavedPath);
    Q_EMIT ImageToShow(bytes);
}

void TItemListArea::AddImageItem(const QString& AFilename, const QString& AContentType,
                                 const QByteArray& AData) {
    const QString failure = FItems.AddImage(FSaveTarget(), AFilename, AContentType, AData);
    ShowNewEntry();
    if (!failure.isEmpty()) {
        Q_EMIT StatusChanged(failure, StatusLine::Maroon, failure);
        Q_EMIT Announce(QStringLiteral("画像を受信しましたが、保存できませんでした"), AFilename);
    } else {
        Q_EMIT Announce(QStringLiteral("画像を受信しました"), AFilename);
    }
    // Once this hand-over has ended, its body and the pictures decoded for the last one
    // are freed; give that memory back instead of keeping it in the heap.
    QTimer::singleShot(0, this, [] { ReturnFreeMemoryToSystem(); });
}

void TItemListArea::AddOpenedItem(const TReceivedImage& AItem) {
    FItems.AddOpened(AItem);
    ShowNewEntry();
}

void TItemListArea::AddReceivedText(const QString& AName, const QByteArray& ABytes) {
    if (ABytes.size() > MaxConvertedTextBytes) {
        AddLargeText(AName, ABytes);
        return;
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(ABytes);
    if (!utf8.hasError()) {
        AddTextItem(AName, text);
        return;
    }
    const ItemSaver::TSaved saved = FItems.AddUnreadableText(FSaveTarget().Folder, AName, ABytes);
    ShowNewEntry();
    const QString status =
        saved.Path.isEmpty()
            ? QStringLiteral("文字コードを読み取れないテキストを保存できませんでした: ") +
                  saved.Error
            : QStringLiteral("文字コードを読み取れないテキストを、受信したまま保存しました: ") +
                  saved.Path;
    Q_EMIT StatusChanged(status, StatusLine::Maroon,
                         saved.Path.isEmpty() ? saved.Error : saved.Path);
    Q_EMIT Announce(QStringLiteral("読み取れないテキストを受信しました"), AName);
}

void TItemListArea::AddLargeText(const QString& AName, const QByteArray& ABytes) {
    // Decoding, converting and writing hundreds of megabytes would hold the window for
    // seconds and take several times the text's size.
    const QString folder = FSaveTarget().Folder;
    QPointer<TItemListArea> guard(this);
    QThreadPool::globalInstance()->start([guard, folder, AName, ABytes] {
        const ItemSaver::TSaved saved = ItemSaver::SaveTextBytes(folder, AName, ABytes);
        if (QCoreApplication* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(
                app,
                [guard, AName, ABytes, saved] {
                    if (guard)
                        guard->LargeTextSaved(AName, ABytes, saved);
                },
                Qt::QueuedConnection);
    });
}

void TItemListArea::LargeTextSaved(const QString& AName, const QByteArray& ABytes,
                                   const ItemSaver::TSaved& ASaved) {
    FItems.AddLargeText(AName, ABytes, ASaved);
    ShowNewEntry();
    if (ASaved.Path.isEmpty())
        Q_EMIT StatusChanged(QStringLiteral("大きなテキストを保存できませんでした: ") +
                                 ASaved.Error,
                             StatusLine::Maroon, ASaved.Error);
    else
        Q_EMIT StatusChanged(QStringLiteral("大きなテキストを受信したまま保存しました: ") +
                                 ASaved.Path,
                             StatusLine::Green, ASaved.Path);
    Q_EMIT Announce(QStringLiteral("テキストを受信しました（大きいため表示していません）"), AName);
}

void TItemListArea::AddTextItem(const QString& AName, const QString& AText) {
    const ItemSaver::TSaved saved = FItems.AddText(FSaveTarget().Folder, AName, AText);
    // The whole text, however long: the box shows a part, the clipboard gets the data.
    // Another program may take the clipboard at once; only what stuck is reported.
    const bool onClipboard = CopyToClipboard(FItems.At(0).Text);
    ShowNewEntry();
    const QString copyText = onClipboard ? QStringLiteral("クリップボードにコピー済")
                                         : QStringLiteral("クリップボードへのコピーに失敗しました");
    if (!saved.Path.isEmpty()) {
        Q_EMIT StatusChanged(copyText + QStringLiteral(" ／ 保存先: ") + saved.Path,
                             onClipboard ? StatusLine::Green : StatusLine::Maroon, saved.Path);
    } else {
        Q_EMIT StatusChanged(copyText + QStringLiteral(" ／ ファイル保存に失敗しました: ") +
                                 saved.Error,
                             StatusLine::Maroon, saved.Error);
    }
    Q_EMIT Announce(
        onClipboard ? QStringLiteral("テキストを取得（クリップボードにコピーしました）")
                    : QStringLiteral("テキストを取得（クリップボードへのコピーに失敗しました）"),
        AName);
}

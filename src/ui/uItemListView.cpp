#include "ui/uItemListView.h"

#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QUrl>

namespace {

QStringList LocalFiles(const QMimeData* AData) {
    QStringList paths;
    if (AData == nullptr || !AData->hasUrls())
        return paths;
    for (const QUrl& url : AData->urls()) {
        if (url.isLocalFile())
            paths << url.toLocalFile();
    }
    return paths;
}

bool Acceptable(const QMimeData* AData) {
    return !LocalFiles(AData).isEmpty() || (AData != nullptr && AData->hasImage());
}

} // namespace

TItemListView::TItemListView(QWidget* AParent) : QTreeWidget(AParent) {
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DropOnly);
    setDropIndicatorShown(false);
}

bool TItemListView::Take(const QMimeData* AData) {
    const QStringList files = LocalFiles(AData);
    if (!files.isEmpty()) {
        Q_EMIT FilesDropped(files);
        return true;
    }
    if (AData != nullptr && AData->hasImage()) {
        Q_EMIT ImagePasted(qvariant_cast<QImage>(AData->imageData()));
        return true;
    }
    return false;
}

void TItemListView::dragEnterEvent(QDragEnterEvent* AEvent) {
    if (Acceptable(AEvent->mimeData()))
        AEvent->acceptProposedAction();
    else
        AEvent->ignore();
}

void TItemListView::dragMoveEvent(QDragMoveEvent* AEvent) {
    if (Acceptable(AEvent->mimeData()))
        AEvent->acceptProposedAction();
    else
        AEvent->ignore();
}

void TItemListView::dropEvent(QDropEvent* AEvent) {
    if (Take(AEvent->mimeData()))
        AEvent->acceptProposedAction();
    else
        AEvent->ignore();
}

void TItemListView::keyPressEvent(QKeyEvent* AEvent) {
    if (AEvent->matches(QKeySequence::Paste)) {
        if (QClipboard* clipboard = QGuiApplication::clipboard())
            Take(clipboard->mimeData());
        AEvent->accept();
        return;
    }
    QTreeWidget::keyPressEvent(AEvent);
}

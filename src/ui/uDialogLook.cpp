#include "ui/uDialogLook.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHeaderView>
#include <QPainter>
#include <QScreen>
#include <QTreeView>
#include <algorithm>

void PlaceOverOwner(QWidget* AWindow, QWidget* AOwner) {
    QRect over;
    QScreen* screen = nullptr;
    if (AOwner) {
        QWidget* ownerWindow = AOwner->window();
        over = ownerWindow->frameGeometry();
        screen = QGuiApplication::screenAt(over.center());
        if (!screen)
            screen = ownerWindow->screen();
    } else {
        screen = QGuiApplication::primaryScreen();
        if (screen)
            over = screen->availableGeometry();
    }
    if (over.isEmpty())
        return;
    const int w = AWindow->width();
    const int h = AWindow->height();
    QPoint topLeft = over.center() - QPoint(w / 2, h / 2);
    if (screen) {
        const QRect avail = screen->availableGeometry();
        topLeft.setX(std::max(avail.left(), std::min(topLeft.x(), avail.right() + 1 - w)));
        topLeft.setY(std::max(avail.top(), std::min(topLeft.y(), avail.bottom() + 1 - h)));
    }
    AWindow->move(topLeft);
}

void KeepSelectionVisible(QAbstractItemView* AView) {
    QPalette pal = AView->palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight,
                 pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                 pal.color(QPalette::Active, QPalette::HighlightedText));
    AView->setPalette(pal);
}

void TGridDelegate::paint(QPainter* APainter, const QStyleOptionViewItem& AOption,
                          const QModelIndex& AIndex) const {
    QStyledItemDelegate::paint(APainter, AOption, AIndex);
    const QStyle* style = AOption.widget ? AOption.widget->style() : QApplication::style();
    const auto grid = static_cast<QRgb>(
        style->styleHint(QStyle::SH_Table_GridLineColor, &AOption, AOption.widget));
    APainter->save();
    APainter->setPen(QColor::fromRgba(grid));
    const QRect r = AOption.rect;
    APainter->drawLine(r.topRight(), r.bottomRight());
    APainter->drawLine(r.bottomLeft(), r.bottomRight());
    APainter->restore();
}

void SetUpReportTable(QTreeView* AView) {
    AView->setRootIsDecorated(false);
    AView->setItemsExpandable(false);
    AView->setUniformRowHeights(true);
    AView->setSortingEnabled(false);
    AView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    AView->setSelectionBehavior(QAbstractItemView::SelectRows);
    AView->setSelectionMode(QAbstractItemView::SingleSelection);
    AView->setAllColumnsShowFocus(true);
    AView->setItemDelegate(new TGridDelegate(AView));
    AView->header()->setStretchLastSection(false);
    AView->header()->setSectionsClickable(false);
    AView->header()->setSectionsMovable(false);
    KeepSelectionVisible(AView);
}

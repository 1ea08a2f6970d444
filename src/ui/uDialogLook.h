#pragma once
#include <QStyledItemDelegate>

class QAbstractItemView;
class QTreeView;
class QWidget;

// What the program's dialog windows share: their placement, and the look of their tables.

// Centres AWindow over its owner's window (over the screen without one), kept inside the
// screen's usable area so that an owner near an edge cannot push the title bar out of reach.
void PlaceOverOwner(QWidget* AWindow, QWidget* AOwner);

// The selection stays visible, in the same colours, when the view loses the focus.
void KeepSelectionVisible(QAbstractItemView* AView);

// A dialog's table in report view: read-only cells, whole rows selected one at a time,
// grid lines, no sorting or moving of columns by the user, the selection visible when
// unfocused.
void SetUpReportTable(QTreeView* AView);

// Draws the right and bottom edge of every cell in the style's table grid colour: a tree
// view has no grid lines of its own.
class TGridDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* APainter, const QStyleOptionViewItem& AOption,
               const QModelIndex& AIndex) const override;
};

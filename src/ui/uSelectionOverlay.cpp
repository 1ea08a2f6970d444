#include "ui/uSelectionOverlay.h"

#include <QMouseEvent>
#include <QPainter>

TSelectionOverlay::TSelectionOverlay(QWidget* AParent) : QWidget(AParent) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    setMouseTracking(true); // the cursor follows the handles without a button held
    setCursor(Qt::CrossCursor);
}

void TSelectionOverlay::ClearSelection() {
    FSelection.Clear();
    setCursor(Qt::CrossCursor);
    update();
}

void TSelectionOverlay::SetSelection(const TRect& ARect) {
    FSelection.SetSel(ARect);
    update();
}

void TSelectionOverlay::UpdateSelCursor(int AX, int AY) {
    setCursor(TSelection::CursorFor(FSelection.HandleAt(AX, AY)));
}

void TSelectionOverlay::pbSelectMouseDown(Qt::MouseButton AButton, int AX, int AY) {
    if (FSelection.MouseDown(AButton, AX, AY))
        update();
}

void TSelectionOverlay::pbSelectMouseMove(int AX, int AY) {
    if (FSelection.DragMode() == TSelection::dmNone) {
        UpdateSelCursor(AX, AY);
        return;
    }
    if (FSelection.MouseMove(AX, AY, width(), height()))
        update();
}

void TSelectionOverlay::pbSelectMouseUp(Qt::MouseButton AButton, int AX, int AY) {
    if (!FSelection.MouseUp(AButton))
        return;
    UpdateSelCursor(AX, AY);
    update();
}

// Qt keeps sending the moves to the pressed widget while the button is held, also
// outside it, and ends that grab on the release.
void TSelectionOverlay::mousePressEvent(QMouseEvent* AEvent) {
    const QPoint p = AEvent->position().toPoint();
    pbSelectMouseDown(AEvent->button(), p.x(), p.y());
}

void TSelectionOverlay::mouseMoveEvent(QMouseEvent* AEvent) {
    const QPoint p = AEvent->position().toPoint();
    pbSelectMouseMove(p.x(), p.y());
}

void TSelectionOverlay::mouseReleaseEvent(QMouseEvent* AEvent) {
    const QPoint p = AEvent->position().toPoint();
    pbSelectMouseUp(AEvent->button(), p.x(), p.y());
}

void TSelectionOverlay::paintEvent(QPaintEvent*) {
    if (!FSelection.HasSel())
        return;
    const TRect& r = FSelection.Sel();
    const int w = r.Width();
    const int h = r.Height();
    QPainter p(this);
    // Outer frame: solid red, 2 pixels, centred on the rectangle's edges. Drawn as fills
    // so it lands on the same pixels whatever the paint engine's pen rules.
    const QColor red(255, 0, 0);
    p.fillRect(r.Left - 1, r.Top - 1, w + 2, 2, red);
    p.fillRect(r.Left - 1, r.Bottom - 1, w + 2, 2, red);
    p.fillRect(r.Left - 1, r.Top - 1, 2, h + 2, red);
    p.fillRect(r.Right - 1, r.Top - 1, 2, h + 2, red);
    // Inner frame: dotted white, 1 pixel, two pixels inside (right and bottom exclusive).
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255), 1, Qt::DotLine));
    if (w > 5 && h > 5)
        p.drawRect(QRect(r.Left + 2, r.Top + 2, w - 5, h - 5));

    const int mx = (r.Left + r.Right) / 2;
    const int my = (r.Top + r.Bottom) / 2;
    const QPoint handles[] = {{r.Left, r.Top}, {mx, r.Top},        {r.Right, r.Top},
                              {r.Left, my},    {r.Right, my},      {r.Left, r.Bottom},
                              {mx, r.Bottom},  {r.Right, r.Bottom}};
    p.setPen(QPen(red, 1));
    p.setBrush(QColor(255, 255, 255));
    for (const QPoint& c : handles) {
        // 12 x 12 pixels from (x - 6, y - 6); an outlined QRect covers width + 1 pixels.
        p.drawRect(QRect(c.x() - 6, c.y() - 6, 11, 11));
    }
}

#pragma once
#include "recognition/uSelection.h"

#include <QWidget>

// The transparent overlay over the preview on which the user drags, moves and resizes
// the selection rectangle.
class TSelectionOverlay : public QWidget {
    Q_OBJECT
public:
    explicit TSelectionOverlay(QWidget* AParent = nullptr);

    const TSelection& Selection() const { return FSelection; }
    // Ends any drag and forgets the rectangle.
    void ClearSelection();
    // Tests start from a known rectangle.
    void SetSelection(const TRect& ARect);

    // The event handlers, by the names the rest of the program uses for them.
    void pbSelectMouseDown(Qt::MouseButton AButton, int AX, int AY);
    void pbSelectMouseMove(int AX, int AY);
    void pbSelectMouseUp(Qt::MouseButton AButton, int AX, int AY);

protected:
    void paintEvent(QPaintEvent* AEvent) override;
    void mousePressEvent(QMouseEvent* AEvent) override;
    void mouseMoveEvent(QMouseEvent* AEvent) override;
    void mouseReleaseEvent(QMouseEvent* AEvent) override;

private:
    void UpdateSelCursor(int AX, int AY);

    TSelection FSelection;
};

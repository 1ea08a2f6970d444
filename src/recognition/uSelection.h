#pragma once
#include "common/uRect.h"

#include <QPoint>
#include <Qt>

// The selection rectangle over the preview, in overlay pixels, and the three ways the
// mouse changes it: drawing a new one, moving it, resizing it by one of eight handles.
// Widget-free: the overlay feeds it mouse events and paints what it holds.
class TSelection {
public:
    enum TDragMode { dmNone = 0, dmDraw = 1, dmMove = 2, dmResize = 3 };

    // 0: none; 1..8: the handles clockwise from the top-left corner (1 top-left,
    // 2 top middle, 3 top-right, 4 right middle, 5 bottom-right, 6 bottom middle,
    // 7 bottom-left, 8 left middle); 9: strictly inside. Corners win over edge middles,
    // handles over the inside.
    int HandleAt(int AX, int AY) const;
    static Qt::CursorShape CursorFor(int AHandle);
    // A hit reaches this far from a handle's centre, in both directions.
    static constexpr int HandleReach = 6;

    // Each returns true when the overlay must be repainted. ACW x ACH is the overlay's
    // client size; positions are clamped to 0..ACW and 0..ACH, ends included.
    bool MouseDown(Qt::MouseButton AButton, int AX, int AY);
    bool MouseMove(int AX, int AY, int ACW, int ACH);
    bool MouseUp(Qt::MouseButton AButton);

    // Ends any drag and forgets the rectangle (another picture, or a turn).
    void Clear();

    const TRect& Sel() const { return FSel; }
    bool HasSel() const { return FHasSel; }
    int DragMode() const { return FDragMode; }
    int DragHandle() const { return FDragHandle; }

    // Tests start from a known rectangle.
    void SetSel(const TRect& ARect);

private:
    QPoint FSelStart;
    TRect FSel;
    bool FHasSel = false;
    int FDragMode = dmNone;
    int FDragHandle = 0;
    QPoint FMoveAnchor;
};

// The selection in picture pixels for a picture of AImgW x AImgH fitted into an area of
// ACW x ACH, centred, scaled down to fit but never enlarged (as the preview draws it).
// Rounds half to even, clamps Left/Top to 0 and Right/Bottom to the picture. True only
// when the result is at least 4 x 4; ARect holds the computed values either way.
bool SelectionToImageRect(const TRect& ASel, bool AHasSel, int ACW, int ACH, int AImgW, int AImgH,
                          TRect& ARect);

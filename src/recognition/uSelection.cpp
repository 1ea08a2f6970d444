#include "recognition/uSelection.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

bool Near(int AX, int AY, int APx, int APy) {
    return std::abs(AX - APx) <= TSelection::HandleReach &&
           std::abs(AY - APy) <= TSelection::HandleReach;
}

TRect Normalised(int AX1, int AY1, int AX2, int AY2) {
    return {std::min(AX1, AX2), std::min(AY1, AY2), std::max(AX1, AX2), std::max(AY1, AY2)};
}

// Half to even, as the selection mapping rounds.
int RoundEven(double AValue) {
    return int(std::nearbyint(AValue));
}

} // namespace

int TSelection::HandleAt(int AX, int AY) const {
    if (!FHasSel)
        return 0;
    const TRect& r = FSel;
    // Integer division truncates toward zero, as the handles are drawn.
    const int mx = (r.Left + r.Right) / 2;
    const int my = (r.Top + r.Bottom) / 2;
    // The order decides which handle wins where two overlap on a small rectangle.
    const struct {
        int Handle, X, Y;
    } order[] = {{1, r.Left, r.Top},     {3, r.Right, r.Top}, {7, r.Left, r.Bottom},
                 {5, r.Right, r.Bottom}, {2, mx, r.Top},      {6, mx, r.Bottom},
                 {8, r.Left, my},        {4, r.Right, my}};
    for (const auto& h : order) {
        if (Near(AX, AY, h.X, h.Y))
            return h.Handle;
    }
    if (r.Left < AX && AX < r.Right && r.Top < AY && AY < r.Bottom)
        return 9;
    return 0;
}

Qt::CursorShape TSelection::CursorFor(int AHandle) {
    switch (AHandle) {
    case 1:
    case 5:
        return Qt::SizeFDiagCursor;
    case 3:
    case 7:
        return Qt::SizeBDiagCursor;
    case 2:
    case 6:
        return Qt::SizeVerCursor;
    case 4:
    case 8:
        return Qt::SizeHorCursor;
    case 9:
        return Qt::SizeAllCursor;
    default:
        return Qt::CrossCursor;
    }
}

bool TSelection::MouseDown(Qt::MouseButton AButton, int AX, int AY) {
    if (AButton != Qt::LeftButton)
        return false;
    const int h = HandleAt(AX, AY);
    FDragHandle = h;
    if (h == 9) {
        FDragMode = dmMove;
        FMoveAnchor = QPoint(AX - FSel.Left, AY - FSel.Top);
    } else if (h >= 1 && h <= 8) {
        FDragMode = dmResize;
    } else {
        FDragMode = dmDraw;
        FSelStart = QPoint(AX, AY);
        FSel = {AX, AY, AX, AY};
        FHasSel = false;
    }
    return true;
}

bool TSelection::MouseMove(int AX, int AY, int ACW, int ACH) {
    const int x = std::clamp(AX, 0, std::max(0, ACW));
    const int y = std::clamp(AY, 0, std::max(0, ACH));
    switch (FDragMode) {
    case dmDraw:
        FSel = Normalised(FSelStart.x(), FSelStart.y(), x, y);
        FHasSel = true;
        return true;
    case dmMove: {
        const int w = FSel.Width();
        const int h = FSel.Height();
        int nl = std::max(0, x - FMoveAnchor.x());
        int nt = std::max(0, y - FMoveAnchor.y());
        if (nl + w > ACW)
            nl = ACW - w;
        if (nt + h > ACH)
            nt = ACH - h;
        FSel = {nl, nt, nl + w, nt + h};
        return true;
    }
    case dmResize: {
        int l = FSel.Left, t = FSel.Top, r = FSel.Right, b = FSel.Bottom;
        switch (FDragHandle) {
        case 1:
            l = x;
            t = y;
            break;
        case 2:
            t = y;
            break;
        case 3:
            r = x;
            t = y;
            break;
        case 4:
            r = x;
            break;
        case 5:
            r = x;
            b = y;
            break;
        case 6:
            b = y;
            break;
        case 7:
            l = x;
            b = y;
            break;
        case 8:
            l = x;
            break;
        default:
            break;
        }
        FSel = Normalised(l, t, r, b);
        FHasSel = true;
        return true;
    }
    default:
        return false;
    }
}

bool TSelection::MouseUp(Qt::MouseButton AButton) {
    if (AButton != Qt::LeftButton)
        return false;
    FDragMode = dmNone;
    FHasSel = FSel.Width() > 3 && FSel.Height() > 3;
    return true;
}

void TSelection::Clear() {
    FHasSel = false;
    FDragMode = dmNone;
    FDragHandle = 0;
}

void TSelection::SetSel(const TRect& ARect) {
    FSel = Normalised(ARect.Left, ARect.Top, ARect.Right, ARect.Bottom);
    FHasSel = true;
    FDragMode = dmNone;
}

bool SelectionToImageRect(const TRect& ASel, bool AHasSel, int ACW, int ACH, int AImgW, int AImgH,
                          TRect& ARect) {
    ARect = TRect();
    if (AImgW <= 0 || AImgH <= 0 || !AHasSel)
        return false;
    if (ACW <= 0 || ACH <= 0)
        return false;
    // Never above 1: a picture smaller than the area is drawn at its own size.
    const double s = std::min({double(ACW) / AImgW, double(ACH) / AImgH, 1.0});
    if (s <= 0)
        return false;
    const double ox = (ACW - AImgW * s) / 2;
    const double oy = (ACH - AImgH * s) / 2;
    ARect.Left = std::max(0, RoundEven((ASel.Left - ox) / s));
    ARect.Top = std::max(0, RoundEven((ASel.Top - oy) / s));
    ARect.Right = std::min(AImgW, RoundEven((ASel.Right - ox) / s));
    ARect.Bottom = std::min(AImgH, RoundEven((ASel.Bottom - oy) / s));
    return ARect.Width() > 3 && ARect.Height() > 3;
}

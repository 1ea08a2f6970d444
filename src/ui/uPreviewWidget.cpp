#include "ui/uPreviewWidget.h"

#include <QPainter>

TPreviewWidget::TPreviewWidget(QWidget* AParent) : QWidget(AParent) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void TPreviewWidget::SetPicture(QImage APicture) {
    FPicture = std::move(APicture);
    FScaled = QImage();
    update();
}

void TPreviewWidget::Clear() {
    SetPicture(QImage());
}

QRect TPreviewWidget::DrawnRect() const {
    if (FPicture.isNull())
        return QRect();
    const qreal dpr = devicePixelRatioF();
    const int cw = int(width() * dpr);
    const int ch = int(height() * dpr);
    int w = FPicture.width();
    int h = FPicture.height();
    if (w > cw || h > ch) {
        const double s = std::min(double(cw) / w, double(ch) / h);
        w = int(w * s);
        h = int(h * s);
    }
    return QRect((cw - w) / 2, (ch - h) / 2, w, h);
}

void TPreviewWidget::resizeEvent(QResizeEvent*) {
    FScaled = QImage();
}

void TPreviewWidget::paintEvent(QPaintEvent*) {
    if (FPicture.isNull())
        return;
    const QRect target = DrawnRect();
    if (target.isEmpty())
        return;
    if (target.size() == FPicture.size()) {
        FScaled = FPicture;
    } else if (FScaled.size() != target.size()) {
        FScaled = FPicture.scaled(target.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    const qreal dpr = devicePixelRatioF();
    QImage shown = FScaled;
    shown.setDevicePixelRatio(dpr);
    QPainter p(this);
    p.drawImage(QPointF(target.x() / dpr, target.y() / dpr), shown);
}

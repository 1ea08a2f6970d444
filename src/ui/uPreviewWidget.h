#pragma once
#include <QImage>
#include <QWidget>

// The picture control: the image centred, scaled down to fit when larger than the
// area (never enlarged, never distorted), drawn in device pixels.
class TPreviewWidget : public QWidget {
    Q_OBJECT
public:
    explicit TPreviewWidget(QWidget* AParent = nullptr);

    // The widget draws APicture as it is; one that wraps outside pixels (a bitmap's)
    // must be replaced or cleared before those are freed.
    void SetPicture(QImage APicture);
    void Clear();
    const QImage& Picture() const { return FPicture; }
    bool HasPicture() const { return !FPicture.isNull(); }
    // Where the picture lands, in device pixels of this widget.
    QRect DrawnRect() const;

protected:
    void paintEvent(QPaintEvent* AEvent) override;
    void resizeEvent(QResizeEvent* AEvent) override;

private:
    QImage FPicture;
    QImage FScaled; // cached for the current size
};

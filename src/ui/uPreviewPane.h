#pragma once
#include "common/uRect.h"
#include "imaging/uBitmap.h"

#include <QByteArray>
#include <QWidget>
#include <optional>

class QPlainTextEdit;
class TPreviewWidget;
class TSelectionOverlay;

// The right-hand preview: the picture with the selection overlay on top of it, or the
// text box; one kind is visible at a time, each filling the whole pane. Owns the shown
// bitmap (upright, with the user's turns) and the selection over it.
class TPreviewPane : public QWidget {
    Q_OBJECT
public:
    explicit TPreviewPane(QWidget* AParent = nullptr);

    void ShowText(const QString& AText);
    // Decodes and shows an image upright by its orientation tag. False when it cannot be
    // decoded: the picture area stays empty and there is no selection.
    bool ShowImage(const QByteArray& AData);
    // A quarter turn of the shown picture; a message, and the picture as it was, when
    // there is not enough memory for it.
    void RotateLeft();
    void RotateRight();

    bool ImageShown() const; // the picture is visible and holds a bitmap
    bool TextShown() const;  // the text box is visible and holds more than blanks
    // The whole text of the shown entry: the box shows at most a bounded part of it.
    QString ShownText() const;
    // What 📋 copies: the selected part of the shown text, else the whole text; empty when
    // no text (or only blanks) is shown.
    QString TextToCopy() const;

    const TBitmap24* CurrentBitmap() const { return FCurBmp ? &*FCurBmp : nullptr; }
    int CurImgW() const { return FCurImgW; }
    int CurImgH() const { return FCurImgH; }
    TRect WholeImage() const { return {0, 0, FCurImgW, FCurImgH}; }

    // The selection in bitmap pixels, mapped as the picture is drawn; true when usable.
    bool SelectionToImageRect(TRect& ARect) const;
    // The JPEG bytes of a region of the bitmap; empty when there is nothing to cut.
    QByteArray CropToJpeg(const TRect& ARect) const;

    TPreviewWidget* imgPreview = nullptr;
    TSelectionOverlay* pbSelect = nullptr;
    QPlainTextEdit* memoText = nullptr;

Q_SIGNALS:
    // What is shown changed: the owner recomputes which commands apply.
    void Changed();

protected:
    void resizeEvent(QResizeEvent* AEvent) override;

private:
    void SetBitmap(TBitmap24&& ABitmap);
    void Rotate(bool AClockwise);
    void DisplayBitmap();
    void ClearPicture();

    std::optional<TBitmap24> FCurBmp;
    QString FWholeText;
    int FCurImgW = 0;
    int FCurImgH = 0;
};

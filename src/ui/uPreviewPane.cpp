#include "ui/uPreviewPane.h"

#include "common/uTextRules.h"
#include "imaging/uCrop.h"
#include "imaging/uImageDecode.h"
#include "imaging/uRotate.h"
#include "items/uTextBound.h"
#include "recognition/uSelection.h"
#include "ui/uMessages.h"
#include "ui/uPreviewWidget.h"
#include "ui/uSelectionOverlay.h"

#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTextDocumentFragment>
#include <cmath>

TPreviewPane::TPreviewPane(QWidget* AParent) : QWidget(AParent) {
    imgPreview = new TPreviewWidget(this);
    pbSelect = new TSelectionOverlay(this);
    pbSelect->hide();
    memoText = new QPlainTextEdit(this);
    memoText->setAccessibleName(QStringLiteral("表示中のテキスト"));
    memoText->setReadOnly(true);
    memoText->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    memoText->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memoText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memoText->hide();
}

void TPreviewPane::resizeEvent(QResizeEvent*) {
    // A resize keeps the selection's overlay coordinates; the picture is fitted anew.
    for (QWidget* w : {static_cast<QWidget*>(imgPreview), static_cast<QWidget*>(pbSelect),
                       static_cast<QWidget*>(memoText)})
        w->setGeometry(rect());
}

void TPreviewPane::ClearPicture() {
    imgPreview->Clear();
    FCurBmp.reset();
    FCurImgW = 0;
    FCurImgH = 0;
    pbSelect->ClearSelection();
    pbSelect->hide();
}

void TPreviewPane::ShowText(const QString& AText) {
    FWholeText = AText; // shared with the entry, not copied
    const TBoundedText shown = BoundedForDisplay(AText);
    memoText->setPlainText(
        shown.Cut ? shown.Text + QStringLiteral("\n\n（長いテキストのため、表示はここまでです。全文"
                                                "は保存したファイルにあります）")
                  : shown.Text);
    memoText->show();
    imgPreview->hide();
    ClearPicture();
    Q_EMIT Changed();
}

bool TPreviewPane::ShowImage(const QByteArray& AData) {
    memoText->hide();
    imgPreview->show();
    std::optional<TBitmap24> upright = DecodeUpright(AData, nullptr);
    if (!upright || upright->IsEmpty()) {
        ClearPicture();
        Q_EMIT Changed();
        return false;
    }
    SetBitmap(std::move(*upright));
    return true;
}

void TPreviewPane::SetBitmap(TBitmap24&& ABitmap) {
    // The picture control draws straight from the bitmap's pixels: it lets go of the old
    // ones before they are freed.
    imgPreview->Clear();
    FCurBmp = std::move(ABitmap);
    DisplayBitmap();
}

void TPreviewPane::DisplayBitmap() {
    FCurImgW = FCurBmp->Width();
    FCurImgH = FCurBmp->Height();
    // No second copy of a 12-megapixel photo: the control shares the bitmap's pixels.
    imgPreview->SetPicture(BitmapToImage(*FCurBmp));
    pbSelect->ClearSelection();
    memoText->hide();
    imgPreview->show();
    pbSelect->setVisible(FCurImgW > 0 && FCurImgH > 0);
    pbSelect->raise();
    Q_EMIT Changed();
}

void TPreviewPane::RotateLeft() {
    Rotate(false);
}

void TPreviewPane::RotateRight() {
    Rotate(true);
}

void TPreviewPane::Rotate(bool AClockwise) {
    if (!FCurBmp)
        return;
    try {
        SetBitmap(RotateBitmap90(*FCurBmp, AClockwise));
    } catch (const std::bad_alloc&) {
        // The turn needs a second picture's memory for a moment; without it the picture
        // stays as it is.
        Messages::Show(window(), QStringLiteral("画像を回転するためのメモリが足りません。"));
    }
}

bool TPreviewPane::ImageShown() const {
    return !imgPreview->isHidden() && FCurImgW > 0;
}

bool TPreviewPane::TextShown() const {
    return !memoText->isHidden() && !TextRules::Trim(memoText->toPlainText()).isEmpty();
}

QString TPreviewPane::ShownText() const {
    return memoText->isHidden() ? QString() : FWholeText;
}

QString TPreviewPane::TextToCopy() const {
    if (!TextShown())
        return QString();
    const QTextCursor cursor = memoText->textCursor();
    return cursor.hasSelection() ? cursor.selection().toPlainText() : FWholeText;
}

bool TPreviewPane::SelectionToImageRect(TRect& ARect) const {
    // The picture is drawn in device pixels (a small picture keeps its own pixel size
    // at any display scale), so the mapping works in them too.
    const qreal dpr = imgPreview->devicePixelRatioF();
    const TSelection& selection = pbSelect->Selection();
    const TRect& sel = selection.Sel();
    const auto device = [dpr](int AValue) { return int(std::lround(AValue * dpr)); };
    const TRect deviceSel{device(sel.Left), device(sel.Top), device(sel.Right), device(sel.Bottom)};
    return ::SelectionToImageRect(deviceSel, selection.HasSel(), int(pbSelect->width() * dpr),
                                  int(pbSelect->height() * dpr), FCurImgW, FCurImgH, ARect);
}

QByteArray TPreviewPane::CropToJpeg(const TRect& ARect) const {
    if (!FCurBmp)
        return QByteArray();
    return ::CropToJpeg(*FCurBmp, ARect);
}

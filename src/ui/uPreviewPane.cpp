#include "ui/uPreviewPane.h"

#include "common/uTextRules.h"
#include "imaging/uCrop.h"
#include "imaging/uImageDecode.h"
#include "imaging/uRotate.h"
#include "items/uTextBound.h"
#include "recognition/uSelection.h"
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
    FCurBmp = std::move(upright);
    DisplayBitmap();
    return true;
}

void TPreviewPane::DisplayBitmap() {
    FCurImgW = FCurBmp->Width();
    FCurImgH = FCurBmp->Height();
    imgPreview->SetPicture(BitmapToImage(*FCurBmp).copy());
    pbSelect->ClearSelection();
    memoText->hide();
    imgPreview->show();
    pbSelect->setVisible(FCurImgW > 0 && FCurImgH > 0);
    pbSelect->raise();
    Q_EMIT Changed();
}

void TPreviewPane::RotateLeft() {
    if (!FCurBmp)
        return;
    FCurBmp = RotateBitmap90(*FCurBmp, false);
    DisplayBitmap();
}

void TPreviewPane::RotateRight() {
    if (!FCurBmp)
        return;
    FCurBmp = RotateBitmap90(*FCurBmp, true);
    DisplayBitmap();
}

bool TPreviewPane::ImageShown() const {
    return !imgPreview->isHidden() && FCurImgW > 0;
}

bool TPreviewPane::TextShown() const {
    return !memoText->isHidden() && !TextRules::Trim(memoText->toPlainText()).isEmpty();
}

QString TPreviewPane::ShownText() const {
    return memoText->toPlainText();
}

QString TPreviewPane::TextToCopy() const {
    if (!TextShown())
        return QString();
    const QTextCursor cursor = memoText->textCursor();
    return cursor.hasSelection() ? cursor.selection().toPlainText() : memoText->toPlainText();
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

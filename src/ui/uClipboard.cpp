#include "ui/uClipboard.h"

#include <QClipboard>
#include <QGuiApplication>

namespace {
QString WithoutCarriageReturns(QString AText) {
    return AText.remove(u'\r');
}
} // namespace

bool CopyToClipboard(const QString& AText) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard == nullptr)
        return false;
    clipboard->setText(AText, QClipboard::Clipboard);
    return WithoutCarriageReturns(clipboard->text(QClipboard::Clipboard)) ==
           WithoutCarriageReturns(AText);
}

#include "ui/uFormLayout.h"

#include <QCheckBox>
#include <QPushButton>

TFormLayout::TFormLayout(const QFont& AFont) : FMetrics(AFont) {}

void TFormLayout::NextButtonRow(int& AX, int& AY) const {
    AX = 8;
    AY = AY + 6 + ButtonHeight();
}

QPushButton* TFormLayout::AddButton(QWidget* AParent, const QString& ACaption, int& AX, int& AY,
                                    int AMinWidth) const {
    const int w = std::max(TextWidth(ACaption) + 24, AMinWidth);
    if (AX > 8 && AX + w > AParent->width() - 8)
        NextButtonRow(AX, AY);
    auto* button = new QPushButton(ACaption, AParent);
    button->setGeometry(AX, AY, w, ButtonHeight());
    AX = AX + w + 6;
    return button;
}

QCheckBox* TFormLayout::AddCheckBox(QWidget* AParent, const QString& ACaption, int AX,
                                    int AY) const {
    auto* box = new QCheckBox(ACaption, AParent);
    box->setGeometry(AX, AY, TextWidth(ACaption) + 26, EditHeight());
    return box;
}

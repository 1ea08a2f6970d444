#pragma once
#include <QFont>
#include <QFontMetrics>
#include <QString>

class QCheckBox;
class QPushButton;
class QWidget;

// Places a window's controls as its design does: lengths in 96-DPI pixels (Qt scales
// them with the display), text widths and heights from the window font.
class TFormLayout {
public:
    explicit TFormLayout(const QFont& AFont);

    int TextWidth(const QString& AText) const { return FMetrics.horizontalAdvance(AText); }
    int LineHeight() const { return FMetrics.height(); } // the height of "Ag"
    int EditHeight() const { return LineHeight() + 9; }
    int ButtonHeight() const { return LineHeight() + 13; }

    // A button as wide as its caption (at least AMinWidth) at AX, AY; a row that would
    // run past AParent's right edge continues on the next one. AX moves past it.
    QPushButton* AddButton(QWidget* AParent, const QString& ACaption, int& AX, int& AY,
                           int AMinWidth) const;
    void NextButtonRow(int& AX, int& AY) const;
    QCheckBox* AddCheckBox(QWidget* AParent, const QString& ACaption, int AX, int AY) const;

private:
    QFontMetrics FMetrics;
};

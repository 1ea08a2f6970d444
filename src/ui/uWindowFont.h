#pragma once
#include <QFont>
#include <QStringList>

// The font of every window of the program: Yu Gothic UI where Windows has it, Noto Sans CJK
// JP elsewhere, and the colour emoji font for the symbols on buttons.
inline QFont WindowFont(int APixelSize = 12) {
    QFont font;
    font.setFamilies({QStringLiteral("Yu Gothic UI"), QStringLiteral("Noto Sans CJK JP"),
                      QStringLiteral("Noto Sans JP"), QStringLiteral("Noto Color Emoji")});
    font.setPixelSize(APixelSize);
    font.setWeight(QFont::Normal);
    return font;
}

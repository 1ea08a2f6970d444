#pragma once
#include <QString>

// How much of a text the window shows and copies: a text box with millions of lines
// stalls the window for minutes, and the whole text is in its file anyway.
struct TBoundedText {
    QString Text;
    bool Cut = false;
};

constexpr qsizetype MaxShownChars = 512 * 1024; // 1 MB of UTF-16
constexpr int MaxShownLines = 20000;

// AText up to the first MaxShownChars characters and MaxShownLines lines.
inline TBoundedText BoundedForDisplay(const QString& AText) {
    qsizetype end = std::min(AText.size(), MaxShownChars);
    int lines = 0;
    for (qsizetype i = 0; i < end; ++i) {
        if (AText.at(i) == u'\n' && ++lines >= MaxShownLines) {
            end = i + 1;
            break;
        }
    }
    if (end >= AText.size())
        return {AText, false};
    // Never end between the two halves of a surrogate pair.
    if (end > 0 && AText.at(end - 1).isHighSurrogate())
        --end;
    return {AText.left(end), true};
}

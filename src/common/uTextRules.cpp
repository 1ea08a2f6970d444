#include "common/uTextRules.h"

namespace TextRules {

QString Trim(const QString& AText) {
    qsizetype first = 0;
    qsizetype last = AText.size();
    while (first < last && AText.at(first).unicode() <= 0x20)
        ++first;
    while (last > first && AText.at(last - 1).unicode() <= 0x20)
        --last;
    return AText.mid(first, last - first);
}

QString AsciiLower(const QString& AText) {
    QString result = AText;
    for (QChar& c : result) {
        if (c.unicode() >= u'A' && c.unicode() <= u'Z')
            c = QChar(c.unicode() + (u'a' - u'A'));
    }
    return result;
}

bool SameTextAscii(const QString& A, const QString& B) {
    return A.size() == B.size() && AsciiLower(A) == AsciiLower(B);
}

} // namespace TextRules

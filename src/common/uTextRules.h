#pragma once
#include <QString>

// The program's text rules, written once: trimming removes characters at or below
// U+0020 (the ideographic space U+3000 stays), and case folding touches only A to Z.
namespace TextRules {

QString Trim(const QString& AText);
QString AsciiLower(const QString& AText);
bool SameTextAscii(const QString& A, const QString& B);

} // namespace TextRules

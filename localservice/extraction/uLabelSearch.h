#pragma once
// Finding the names and aliases of lab items in recognised text. Recognition confuses some
// characters (1, l, I and | ; 0 and O ; γ and y), prints full- or half-width forms and leaves
// stray blanks, so labels and text are compared in one folded form that erases exactly those
// differences; positions are mapped back so that values are read from the text as printed.
#include <QHash>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <vector>

#include "extraction/uCatalog.h"

// Hyphens, dashes and the minus sign, which print alike and all mean "-" in a report.
inline bool IsDashVariant(char16_t AChar) {
    return (AChar >= 0x2010 && AChar <= 0x2015) || AChar == 0x2212;
}

struct TFoldedText {
    QString Folded; // what labels are compared with
    QString Plain;  // per folded character: the character before confusions were folded
    std::vector<qsizetype> Start; // per folded character: where it starts in the input
    std::vector<qsizetype> End;   // per folded character: one past where it ends in the input
};

// Compatibility forms to their plain form (NFKC), ASCII letters to lower case, each group of
// confusable characters to one of them, dash variants to "-", blanks to " ". A bar or a
// backslash next to another 1-like character is read with it as one character ("HbA\Ic").
TFoldedText FoldForMatching(QStringView AText);

struct TLabelMatch {
    qsizetype Start; // in the input
    qsizetype End;   // one past the label, in the input
    size_t Label;
};

// Every name and alias of the items, folded; items that share a folded text share one label.
// A trie, so finding the labels at one place of a line costs at most the length of the longest
// label (and the few separators skipped inside it), however many labels there are.
class TLabelIndex {
public:
    explicit TLabelIndex(const std::vector<TExtractItem>& AItems);

    // The items of a label, in their own order.
    const std::vector<size_t>& Items(size_t ALabel) const { return FItems[ALabel]; }
    // The names and aliases that fold to a label, as the items spell them; an item's name
    // comes first, and only that, where one folds to the label: its aliases include
    // misreadings ("y-GTP").
    const QStringList& Spellings(size_t ALabel) const { return FSpellings[ALabel]; }
    size_t Count() const { return FItems.size(); }

    // Leftmost, then longest, non-overlapping occurrences in a line that stand as words of
    // their own: "Cr" is not found in "CRP", nor "Hb" in "HbA1c", nor "コレステロール" in
    // "総コレステロール".
    std::vector<TLabelMatch> Find(QStringView ALine) const;

private:
    static quint64 EdgeKey(qint32 ANode, QChar AChar) {
        return (static_cast<quint64>(ANode) << 16) | AChar.unicode();
    }
    void Add(const QString& AFolded, const QString& ASpelling, const QString& APlain, bool AIsName,
             size_t AItem);
    // Whether the letters of a match are those of one of its label's spellings.
    bool LettersAsSpelled(QStringView AText, const TFoldedText& ALine, qsizetype APos,
                          qsizetype ALen, size_t ALabel) const;
    // The folded length of the longest label at APos that ends where a word may end, or 0.
    qsizetype LongestAt(const TFoldedText& ALine, qsizetype APos, size_t& ALabel) const;

    QHash<quint64, qint32> FEdges; // (node, character) to the next node
    std::vector<qint32> FLabelAt;  // per node: the label that ends there, or -1
    std::vector<std::vector<size_t>> FItems;
    std::vector<QStringList> FSpellings;
    std::vector<bool> FNamed;                 // per label: whether an item's name folds to it
    std::vector<QStringList> FPlainSpellings; // the same, unfolded, without separators, cased
};

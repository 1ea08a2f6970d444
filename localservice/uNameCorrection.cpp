#include "uNameCorrection.h"

#include "uLabelSearch.h"

#include <algorithm>
#include <numeric>
#include <vector>

namespace {

qsizetype EditDistance(QStringView A, QStringView B) {
    std::vector<qsizetype> Row(static_cast<size_t>(B.size()) + 1);
    std::iota(Row.begin(), Row.end(), 0);
    for (qsizetype i = 1; i <= A.size(); ++i) {
        qsizetype Diagonal = Row[0];
        Row[0] = i;
        for (qsizetype j = 1; j <= B.size(); ++j) {
            const qsizetype Above = Row[static_cast<size_t>(j)];
            Row[static_cast<size_t>(j)] = std::min({Above + 1, Row[static_cast<size_t>(j) - 1] + 1,
                                                    Diagonal + (A[i - 1] == B[j - 1] ? 0 : 1)});
            Diagonal = Above;
        }
    }
    return Row.back();
}

} // namespace

QString CorrectItemNames(const QString& AText, const std::vector<TExtractItem>& AItems) {
    std::vector<TExtractItem> Known = AItems;
    Known.insert(Known.end(), CatalogItems().begin(), CatalogItems().end());
    const TLabelIndex Index(Known);
    QString Out;
    Out.reserve(AText.size());
    qsizetype LineStart = 0;
    while (LineStart <= AText.size()) {
        qsizetype LineEnd = AText.indexOf(u'\n', LineStart);
        if (LineEnd < 0) {
            LineEnd = AText.size();
        }
        const QStringView Line = QStringView(AText).mid(LineStart, LineEnd - LineStart);
        qsizetype Copied = 0;
        for (const TLabelMatch& Match : Index.Find(Line)) {
            const QStringView Read = Line.mid(Match.Start, Match.End - Match.Start);
            const QStringList& Spellings = Index.Spellings(Match.Label);
            const auto Nearest = std::min_element(
                Spellings.cbegin(), Spellings.cend(), [&](const QString& A, const QString& B) {
                    return EditDistance(Read, A) < EditDistance(Read, B);
                });
            Out += Line.mid(Copied, Match.Start - Copied);
            Out += Nearest != Spellings.cend() ? QStringView(*Nearest) : Read;
            Copied = Match.End;
        }
        Out += Line.mid(Copied);
        if (LineEnd < AText.size()) {
            Out += u'\n';
        }
        LineStart = LineEnd + 1;
    }
    return Out;
}

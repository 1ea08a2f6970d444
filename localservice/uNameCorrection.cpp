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

// Whether a match is a word of its own, to be put right: nothing of a longer word follows it
// ("血精液症" is no misread 血糖), and it neither starts nor ends inside a character that
// stands for several ("㏀" is no K).
bool StandsAlone(QStringView ALine, const TLabelMatch& AMatch) {
    if (AMatch.End < ALine.size() && ALine[AMatch.End].isLetter()) {
        return false;
    }
    const auto Single = [](QStringView AChar) {
        return AChar.toString().normalized(QString::NormalizationForm_KC).size() == AChar.size();
    };
    const QStringView Read = ALine.mid(AMatch.Start, AMatch.End - AMatch.Start);
    const qsizetype FirstSize = Read.front().isHighSurrogate() ? 2 : 1;
    const qsizetype LastSize = Read.back().isLowSurrogate() ? 2 : 1;
    return Read.size() >= FirstSize && Single(Read.first(FirstSize)) && Read.size() >= LastSize &&
           Single(Read.last(LastSize));
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
            if (!StandsAlone(Line, Match)) {
                continue;
            }
            const QStringList& Spellings = Index.Spellings(Match.Label);
            const auto Nearest = std::min_element(
                Spellings.cbegin(), Spellings.cend(), [&](const QString& A, const QString& B) {
                    return EditDistance(Read, A) < EditDistance(Read, B);
                });
            // Only the case apart is no misreading: "NA" (not available), "CA" of CA19-9.
            if (Nearest == Spellings.cend() || Read.compare(*Nearest, Qt::CaseInsensitive) == 0) {
                continue;
            }
            Out += Line.mid(Copied, Match.Start - Copied);
            Out += *Nearest;
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

#include "extraction/uNameCorrection.h"

#include "extraction/uLabelSearch.h"

#include <QStringList>

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
    QStringList Lines = AText.split(u'\n');
    for (QString& Line : Lines) {
        QString Out;
        qsizetype Copied = 0;
        for (const TLabelMatch& Match : Index.Find(Line)) {
            if (!StandsAlone(Line, Match)) {
                continue;
            }
            const QStringView Read = QStringView(Line).mid(Match.Start, Match.End - Match.Start);
            const QString* Nearest = nullptr;
            qsizetype NearestDistance = 0;
            for (const QString& Spelling : Index.Spellings(Match.Label)) {
                if (const qsizetype D = EditDistance(Read, Spelling);
                    Nearest == nullptr || D < NearestDistance) {
                    Nearest = &Spelling;
                    NearestDistance = D;
                }
            }
            // Only the case apart is no misreading: "NA" (not available), "CA" of CA19-9.
            if (Nearest == nullptr || Read.compare(*Nearest, Qt::CaseInsensitive) == 0) {
                continue;
            }
            Out += QStringView(Line).mid(Copied, Match.Start - Copied);
            Out += *Nearest;
            Copied = Match.End;
        }
        if (Copied > 0) {
            Out += QStringView(Line).mid(Copied);
            Line = Out;
        }
    }
    return Lines.join(u'\n');
}

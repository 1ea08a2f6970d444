#include "reading/uReadingMerge.h"

#include <QRegularExpression>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <map>

namespace {

// Boxes of the same line in two readings differ by a few pixels; boxes of neighbouring lines
// or of a line cut differently overlap far less.
constexpr double kSameLineOverlap = 0.6;

// Intersection over union of two boxes.
double Overlap(const TLineReading& A, const TLineReading& B) {
    const long long Width = std::min(A.Right, B.Right) - std::max(A.Left, B.Left);
    const long long Height = std::min(A.Bottom, B.Bottom) - std::max(A.Top, B.Top);
    if (Width <= 0 || Height <= 0) {
        return 0;
    }
    const auto Area = [](const TLineReading& L) {
        return static_cast<long long>(L.Right - L.Left) * (L.Bottom - L.Top);
    };
    const long long Shared = Width * Height;
    return static_cast<double>(Shared) / static_cast<double>(Area(A) + Area(B) - Shared);
}

// A line as a string of characters, every run of blanks folded into one symbol: a single
// blank, or a column gap for two and more (which extraction reads as a field's end).
constexpr char32_t kColumnGap = U'\t';
// Aligning two readings takes a table of their lengths' product. Lines of a report stay far
// below this; a "line" of thousands of characters read from noise is not voted on.
constexpr size_t kMostAlignmentCells = 1'000'000;
// The share of the votes that settles a digit beyond doubt.
constexpr float kClearMajority = 0.65f;

// What the readings have at one place of the pivot, and their votes for each.
using TBallot = std::map<std::u32string, float>;

std::u32string Symbols(const std::string& AText) {
    const std::u32string Text = QString::fromStdString(AText).toStdU32String();
    std::u32string Out;
    for (size_t i = 0; i < Text.size();) {
        if (Text[i] != U' ') {
            Out += Text[i++];
            continue;
        }
        size_t End = i;
        while (End < Text.size() && Text[End] == U' ') {
            ++End;
        }
        Out += End - i > 1 ? kColumnGap : U' ';
        i = End;
    }
    return Out;
}

std::string Utf8(const std::u32string& ASymbols) {
    std::u32string Text;
    for (const char32_t C : ASymbols) {
        if (C == kColumnGap) {
            Text += U"    ";
        } else {
            Text += C;
        }
    }
    return QString::fromStdU32String(Text).toStdString();
}

// A letter that the engine reads for a digit, standing in a field that is otherwise a number
// ("12S", "S.8"), gives way to a digit that other readings saw at that place with at least a
// quarter of its votes (one stray reading does not make "B12" 812): a value is worth more than
// a letter that no item name or unit puts there.
// Strokes (l, I, |, ], !) only inside a number: at its edge a stroke may be a table rule, and
// "35|" must not become 351. Without such a reading the letter stays, and extraction refuses
// the field rather than taking a number cut short.
void PreferDigitsInNumbers(std::u32string& AOut, const std::vector<size_t>& APivotColumn,
                           const std::vector<TBallot>& AAt) {
    const auto IsDigit = [](char32_t C) { return C >= U'0' && C <= U'9'; };
    const auto IsBlank = [](char32_t C) { return C == U' ' || C == kColumnGap; };
    static const std::u32string Letters = U"SOBZ";
    static const std::u32string Strokes = U"lI|]!";
    for (size_t i = 0; i < AOut.size(); ++i) {
        const bool Letter = Letters.find(AOut[i]) != std::u32string::npos;
        const bool Stroke = Strokes.find(AOut[i]) != std::u32string::npos;
        if ((!Letter && !Stroke) || APivotColumn[i] >= AAt.size()) {
            continue;
        }
        size_t Start = i, End = i + 1;
        while (Start > 0 && !IsBlank(AOut[Start - 1])) {
            --Start;
        }
        while (End < AOut.size() && !IsBlank(AOut[End])) {
            ++End;
        }
        if (Stroke && (i == Start || i + 1 == End)) {
            continue;
        }
        bool Number = true, HasDigit = false;
        for (size_t j = Start; j < End && Number; ++j) {
            HasDigit = HasDigit || IsDigit(AOut[j]);
            Number = j == i || IsDigit(AOut[j]) || AOut[j] == U'.' || AOut[j] == U',';
        }
        if (!Number || !HasDigit) {
            continue;
        }
        const TBallot& Ballot = AAt[APivotColumn[i]];
        const auto Read = Ballot.find(std::u32string(1, AOut[i]));
        float BestVotes = (Read != Ballot.end() ? Read->second : 0) / 4;
        for (const auto& [Option, Votes] : Ballot) {
            if (Option.size() == 1 && IsDigit(Option.front()) && Votes >= BestVotes) {
                AOut[i] = Option.front();
                BestVotes = Votes;
            }
        }
    }
}

// The characters the readings of one line agree on. The surest reading is the pivot; every
// other one is aligned to it (fewest edits), and at each of the pivot's characters and in each
// gap between them the readings vote for what stands there, each with its confidence. So two
// readings of "5.6" outvote a surer "56", and a reading's one slip is outvoted by the others.
// A tie keeps the pivot's.
struct TVotedLine {
    std::string Text;
    std::vector<std::string> DoubtfulNumbers;
};

// The number a circled digit stands for ("①" 1, "⑳" 20, "❶" 1), or -1. Some models read
// plain digits of a report as circled ones; no lab report prints a value that way.
int CircledNumber(char16_t AChar) {
    if (AChar >= 0x2460 && AChar <= 0x2473)
        return AChar - 0x2460 + 1;
    if (AChar >= 0x24EB && AChar <= 0x24F4)
        return AChar - 0x24EB + 11;
    if (AChar >= 0x24F5 && AChar <= 0x24FE)
        return AChar - 0x24F5 + 1;
    if (AChar >= 0x2776 && AChar <= 0x2793)
        return (AChar - 0x2776) % 10 + 1;
    if (AChar == 0x24EA || AChar == 0x24FF)
        return 0;
    return -1;
}

bool IsNumberSymbol(char32_t AChar) {
    return (AChar >= U'0' && AChar <= U'9') || AChar == U'.' || AChar == U',' ||
           (AChar <= 0xFFFF && CircledNumber(static_cast<char16_t>(AChar)) >= 0);
}

// The runs of digits, points and commas in AOut that hold a contested character.
std::vector<std::string> ContestedNumbers(const std::u32string& AOut,
                                          const std::vector<char>& AContested) {
    std::vector<std::string> Numbers;
    for (size_t i = 0; i < AOut.size();) {
        if (!IsNumberSymbol(AOut[i])) {
            ++i;
            continue;
        }
        size_t End = i;
        bool Contested = false;
        while (End < AOut.size() && IsNumberSymbol(AOut[End])) {
            Contested = Contested || AContested[End] != 0;
            ++End;
        }
        if (Contested) {
            Numbers.push_back(QString::fromStdU32String(AOut.substr(i, End - i)).toStdString());
        }
        i = End;
    }
    return Numbers;
}

TVotedLine Vote(const std::vector<const TLineReading*>& ACandidates) {
    const TLineReading* Pivot = ACandidates.front();
    for (const TLineReading* Candidate : ACandidates) {
        if (Candidate->Confidence > Pivot->Confidence) {
            Pivot = Candidate;
        }
    }
    const std::u32string P = Symbols(Pivot->Text);
    const size_t N = P.size();
    if ((N + 1) * (N + 1) > kMostAlignmentCells) {
        return {Pivot->Text, {}};
    }
    std::vector<TBallot> At(N);         // what stands at the pivot's character j
    std::vector<TBallot> Before(N + 1); // what is inserted before it (at N: after the last)

    for (const TLineReading* Candidate : ACandidates) {
        const std::u32string C = Symbols(Candidate->Text);
        const size_t M = C.size();
        if ((N + 1) * (M + 1) > kMostAlignmentCells) {
            continue; // not a line of a report: the pivot's reading stands for it
        }
        // Edit distances of the prefixes, then the alignment back from the end.
        std::vector<uint32_t> D((N + 1) * (M + 1));
        const auto Cell = [&](size_t i, size_t j) -> uint32_t& { return D[i * (M + 1) + j]; };
        for (size_t i = 0; i <= N; ++i) {
            Cell(i, 0) = static_cast<uint32_t>(i);
        }
        for (size_t j = 0; j <= M; ++j) {
            Cell(0, j) = static_cast<uint32_t>(j);
        }
        for (size_t i = 1; i <= N; ++i) {
            for (size_t j = 1; j <= M; ++j) {
                Cell(i, j) = std::min({Cell(i - 1, j - 1) + (P[i - 1] == C[j - 1] ? 0u : 1u),
                                       Cell(i - 1, j) + 1, Cell(i, j - 1) + 1});
            }
        }
        std::vector<std::u32string> Here(N), Inserted(N + 1);
        size_t i = N, j = M;
        while (i > 0 || j > 0) {
            if (i > 0 && j > 0 &&
                Cell(i, j) == Cell(i - 1, j - 1) + (P[i - 1] == C[j - 1] ? 0u : 1u)) {
                Here[--i] = C[--j];
            } else if (i > 0 && Cell(i, j) == Cell(i - 1, j) + 1) {
                --i; // the candidate has nothing here
            } else {
                Inserted[i] += C[--j]; // backwards; turned round below
            }
        }
        for (std::u32string& Run : Inserted) {
            std::reverse(Run.begin(), Run.end());
        }
        for (size_t k = 0; k < N; ++k) {
            At[k][Here[k]] += Candidate->Confidence;
        }
        for (size_t k = 0; k <= N; ++k) {
            Before[k][Inserted[k]] += Candidate->Confidence;
        }
    }

    const auto Winner = [](const TBallot& ABallot, const std::u32string& APivots) {
        const std::u32string* Best = &APivots;
        float BestVotes = ABallot.count(APivots) ? ABallot.at(APivots) : 0;
        for (const auto& [Option, Votes] : ABallot) {
            if (Votes > BestVotes) {
                Best = &Option;
                BestVotes = Votes;
            }
        }
        return *Best;
    };
    // Whether the two leading options of a ballot are two readings of a number (digits, a point,
    // a separator, or nothing where the other has one) and the vote between them was close:
    // what won has less than 65 % of the votes. Two readings of three outvote one slip; one
    // against one is a guess. A letter against a digit is a misread letter, not a second number.
    const auto Disputed = [](const TBallot& ABallot) {
        if (ABallot.size() < 2) {
            return false;
        }
        const auto Numeric = [](const std::u32string& AOption) {
            for (const char32_t C : AOption) {
                if (!((C >= U'0' && C <= U'9') || C == U'.' || C == U',')) {
                    return false;
                }
            }
            return true;
        };
        const std::pair<const std::u32string, float>*First = nullptr, *Second = nullptr;
        float Total = 0;
        for (const auto& Entry : ABallot) {
            Total += Entry.second;
            if (First == nullptr || Entry.second > First->second) {
                Second = First;
                First = &Entry;
            } else if (Second == nullptr || Entry.second > Second->second) {
                Second = &Entry;
            }
        }
        const bool Number = Numeric(First->first) && Numeric(Second->first) &&
                            !(First->first.empty() && Second->first.empty());
        return Number && First->second < kClearMajority * Total;
    };
    std::u32string Out;
    std::vector<size_t> PivotColumn; // for each character of Out: its pivot character, or N
    std::vector<char> Contested;     // for each character of Out
    for (size_t k = 0; k <= N; ++k) {
        // A digit some reading put here, or one left out, doubts the characters on both sides.
        const bool GapDisputed = Disputed(Before[k]);
        if (GapDisputed && !Contested.empty()) {
            Contested.back() = 1;
        }
        const std::u32string Inserted = Winner(Before[k], {});
        Out += Inserted;
        PivotColumn.insert(PivotColumn.end(), Inserted.size(), N);
        Contested.insert(Contested.end(), Inserted.size(), GapDisputed ? 1 : 0);
        if (k < N) {
            const std::u32string Here = Winner(At[k], std::u32string(1, P[k]));
            Out += Here;
            PivotColumn.insert(PivotColumn.end(), Here.size(), k);
            Contested.insert(Contested.end(), Here.size(), GapDisputed || Disputed(At[k]) ? 1 : 0);
        }
    }
    const std::u32string AsRead = Out;
    PreferDigitsInNumbers(Out, PivotColumn, At);
    for (size_t i = 0; i < Out.size(); ++i) {
        if (Out[i] != AsRead[i]) {
            Contested[i] = 1; // a digit chosen over a letter is a guess too
        }
    }
    return {Utf8(Out), ContestedNumbers(Out, Contested)};
}
} // namespace

std::string MergeReadings(const std::vector<TPageReading>& AReadings) {
    return MergeReadingsWithDoubts(AReadings).Text;
}

TMergedReading MergeReadingsWithDoubts(const std::vector<TPageReading>& AReadings) {
    if (AReadings.empty()) {
        return {};
    }
    const auto Surest = std::max_element(
        AReadings.begin(), AReadings.end(),
        [](const TPageReading& A, const TPageReading& B) { return A.Confidence < B.Confidence; });
    TMergedReading Merged;
    for (const TLineReading& Line : Surest->Lines) {
        // The same line in each other reading: the one that covers the most of the same place.
        std::vector<const TLineReading*> Candidates{&Line};
        for (const TPageReading& Other : AReadings) {
            if (&Other == &*Surest) {
                continue;
            }
            const TLineReading* Match = nullptr;
            double MatchOverlap = kSameLineOverlap;
            for (const TLineReading& Candidate : Other.Lines) {
                if (const double O = Overlap(Line, Candidate); O >= MatchOverlap) {
                    Match = &Candidate;
                    MatchOverlap = O;
                }
            }
            if (Match != nullptr) {
                Candidates.push_back(Match);
            }
        }
        TVotedLine Voted = Vote(Candidates);
        Merged.Text += Voted.Text;
        Merged.Text += '\n';
        Merged.DoubtfulNumbers.push_back(std::move(Voted.DoubtfulNumbers));
    }
    return Merged;
}

// Tesseract separates Japanese characters with blanks; written Japanese has none.
std::string TidyReading(const std::string& AText) {
    static const QRegularExpression CjkGap(QStringLiteral(
        R"((?<=[\x{3000}-\x{9FFF}\x{FF00}-\x{FFEF}]) +(?=[\x{3000}-\x{9FFF}\x{FF00}-\x{FFEF}]))"));
    const QString Read = QString::fromStdString(AText);
    QString Text;
    Text.reserve(Read.size());
    for (const QChar C : Read) {
        const int Number = CircledNumber(C.unicode());
        if (Number < 0)
            Text += C;
        else
            Text += QString::number(Number);
    }
    Text.remove(CjkGap);
    return Text.toStdString();
}

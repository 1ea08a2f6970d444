#include "uReadingMerge.h"

#include <algorithm>

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

std::string WithoutBlanks(const std::string& AText) {
    std::string Out;
    for (const char C : AText) {
        if (C != ' ') {
            Out += C;
        }
    }
    return Out;
}

// The reading of one line that the readings agree on: each distinct text (blanks aside) counts
// the confidences of the readings that give it, so that two readings of "6.4" outvote a surer
// single "64". Of the winning text, the surest reading's spacing is kept.
const TLineReading& Vote(const std::vector<const TLineReading*>& ACandidates) {
    struct TTally {
        std::string Text;
        float Votes = 0;
        const TLineReading* Surest = nullptr;
    };
    // In the order first given, so that a tie goes to the surest page's own line.
    std::vector<TTally> Tallies;
    for (const TLineReading* Candidate : ACandidates) {
        std::string Text = WithoutBlanks(Candidate->Text);
        auto Tally = std::find_if(Tallies.begin(), Tallies.end(),
                                  [&](const TTally& T) { return T.Text == Text; });
        if (Tally == Tallies.end()) {
            Tally = Tallies.insert(Tallies.end(), {std::move(Text), 0, Candidate});
        }
        Tally->Votes += Candidate->Confidence;
        if (Candidate->Confidence > Tally->Surest->Confidence) {
            Tally->Surest = Candidate;
        }
    }
    const TTally* Winner = nullptr;
    for (const TTally& Tally : Tallies) {
        if (Winner == nullptr || Tally.Votes > Winner->Votes ||
            (Tally.Votes == Winner->Votes &&
             Tally.Surest->Confidence > Winner->Surest->Confidence)) {
            Winner = &Tally;
        }
    }
    return *Winner->Surest;
}

} // namespace

std::string MergeReadings(const std::vector<TPageReading>& AReadings) {
    if (AReadings.empty()) {
        return {};
    }
    const auto Surest = std::max_element(
        AReadings.begin(), AReadings.end(),
        [](const TPageReading& A, const TPageReading& B) { return A.Confidence < B.Confidence; });
    std::string Text;
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
        Text += Vote(Candidates).Text;
        Text += '\n';
    }
    return Text;
}

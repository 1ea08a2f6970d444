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
        const TLineReading* Best = &Line;
        for (const TPageReading& Other : AReadings) {
            if (&Other == &*Surest) {
                continue;
            }
            for (const TLineReading& Candidate : Other.Lines) {
                if (Candidate.Confidence > Best->Confidence &&
                    Overlap(Line, Candidate) >= kSameLineOverlap) {
                    Best = &Candidate;
                }
            }
        }
        Text += Best->Text;
        Text += '\n';
    }
    return Text;
}

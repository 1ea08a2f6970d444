#include "reading/uPagePreparation.h"

#include <leptonica/allheaders.h>

#include <algorithm>
#include <cmath>
#include <utility>

void TPixDeleter::operator()(Pix* APix) const {
    pixDestroy(&APix);
}

namespace {

struct TBoxaDeleter {
    void operator()(Boxa* ABoxa) const { boxaDestroy(&ABoxa); }
};
struct TNumaDeleter {
    void operator()(Numa* ANuma) const { numaDestroy(&ANuma); }
};
using TBoxaPtr = std::unique_ptr<Boxa, TBoxaDeleter>;
using TNumaPtr = std::unique_ptr<Numa, TNumaDeleter>;

// Scaling stays within this range; beyond it the photo is not of text the engine can read.
constexpr float kMinScale = 0.2f;
constexpr float kMaxScale = 4.0f;
// Nor does it make a page larger than this: each copy is read whole, and a photo of small text
// blown up fourfold would take gigabytes.
constexpr double kMaxPreparedPixels = 24'000'000; // six A4 pages of text at that height
// Differences smaller than this are not worth a resampling pass.
constexpr float kScaleTolerance = 0.12f;
// Skew below this is left alone: the engine copes, and turning costs a resampling pass.
constexpr float kMinSkewDegrees = 0.1f;
// Where background normalisation puts the paper.
constexpr int kPaperLevel = 200;

// The ink as black on white: background lifted to white tile by tile, then Otsu's threshold,
// then specks of sensor noise smaller than 3 x 3 dropped.
TPixPtr InkOf(Pix* AGrey) {
    l_int32 Threshold = 0;
    TPixPtr Ink(pixOtsuThreshOnBackgroundNorm(AGrey, nullptr, 10, 15, 100, 50, 255, 2, 2, 0.1f,
                                              &Threshold));
    if (!Ink) {
        return nullptr;
    }
    if (TPixPtr Kept{
            pixSelectBySize(Ink.get(), 3, 3, 8, L_SELECT_IF_EITHER, L_SELECT_IF_GTE, nullptr)}) {
        return Kept;
    }
    return Ink;
}

// Height of the tallest characters of the lines: a high rank of the heights of the ink's
// connected pieces, leaving out table rules. Kanji break into several pieces, so the median
// would be too low; 0 when the page holds too few pieces to tell.
float TextHeight(Pix* AInk) {
    const l_int32 Height = pixGetHeight(AInk);
    TBoxaPtr Boxes(pixConnCompBB(AInk, 8));
    if (!Boxes) {
        return 0;
    }
    TNumaPtr Heights(numaCreate(0));
    const l_int32 Count = boxaGetCount(Boxes.get());
    for (l_int32 i = 0; i < Count; ++i) {
        l_int32 X = 0, Y = 0, W = 0, H = 0;
        boxaGetBoxGeometry(Boxes.get(), i, &X, &Y, &W, &H);
        const bool Rule = W > 6 * H || H > 6 * std::max(W, 2) || H > Height / 4;
        if (!Rule) {
            numaAddNumber(Heights.get(), static_cast<l_float32>(H));
        }
    }
    if (numaGetCount(Heights.get()) < 8) {
        return 0;
    }
    l_float32 Tall = 0;
    numaGetRankValue(Heights.get(), 0.9f, nullptr, 0, &Tall);
    return Tall;
}

// Table rules: runs of ink far longer than any character, across or down. Noise breaks a
// printed rule into pieces a few pixels apart, so they are joined before the long runs are
// kept; the mask is widened to take the rule's blurred edges too.
TPixPtr RulesOf(Pix* AGrey, int ALength) {
    // Rules are printed fainter than text and blur thins them further: anything darker than
    // the paper counts here.
    TPixPtr Dark(pixThresholdToBinary(AGrey, kPaperLevel - 20));
    if (!Dark) {
        return nullptr;
    }
    TPixPtr Across(pixCloseBrick(nullptr, Dark.get(), 5, 1));
    TPixPtr Down(pixCloseBrick(nullptr, Dark.get(), 1, 5));
    if (!Across || !Down) {
        return nullptr;
    }
    pixOpenBrick(Across.get(), Across.get(), ALength, 1);
    pixOpenBrick(Down.get(), Down.get(), 1, ALength);
    // Rules are thin; a long dark band (a header printed white on black) is not one, and its
    // text stays.
    const int Thick = std::max(3, ALength / 32) | 1;
    if (TPixPtr Bands{pixOpenBrick(nullptr, Across.get(), 1, Thick)}) {
        pixSubtract(Across.get(), Across.get(), Bands.get());
    }
    if (TPixPtr Bands{pixOpenBrick(nullptr, Down.get(), Thick, 1)}) {
        pixSubtract(Down.get(), Down.get(), Bands.get());
    }
    pixOr(Across.get(), Across.get(), Down.get());
    pixDilateBrick(Across.get(), Across.get(), 5, 5);
    return Across;
}

} // namespace

std::vector<TPixPtr> PreparePage(Pix* APage, const TPreparationSettings& ASettings,
                                 TPreparationReport* AReport) {
    TPreparationReport Report;
    std::vector<TPixPtr> Pages;
    TPixPtr Page(pixConvertTo8(APage, 0));
    if (!Page) {
        return Pages;
    }

    // Scaled first, so that everything after works at the size the engine reads; never past
    // the size cap, whether or not the text could be measured.
    const double Pixels = static_cast<double>(pixGetWidth(Page.get())) *
                          static_cast<double>(pixGetHeight(Page.get()));
    const float Largest = static_cast<float>(std::sqrt(kMaxPreparedPixels / Pixels));
    float Scale = std::min(1.0f, Largest);
    if (TPixPtr Ink = InkOf(Page.get())) {
        if (const float Height = TextHeight(Ink.get()); Height > 0) {
            Scale = std::min(
                std::clamp(static_cast<float>(ASettings.TextHeight) / Height, kMinScale, kMaxScale),
                Largest);
        }
    }
    if (std::abs(Scale - 1) > kScaleTolerance || Largest < 1) {
        if (TPixPtr Scaled{pixScale(Page.get(), Scale, Scale)}) {
            Page = std::move(Scaled);
            Report.Scale = Scale;
        }
    }

    // Uneven light and grey paper become even.
    if (TPixPtr Even{pixBackgroundNormSimple(Page.get(), nullptr, nullptr)}) {
        Page = std::move(Even);
    }
    TPixPtr Ink = InkOf(Page.get());
    if (!Ink) {
        return Pages;
    }

    l_float32 Skew = 0, Confidence = 0;
    if (pixFindSkew(Ink.get(), &Skew, &Confidence) == 0 && Confidence > 0 &&
        std::abs(Skew) >= kMinSkewDegrees) {
        const float Radians = Skew * static_cast<float>(3.14159265358979 / 180);
        TPixPtr Straight(pixRotate(Page.get(), Radians, L_ROTATE_AREA_MAP, L_BRING_IN_WHITE, 0, 0));
        TPixPtr StraightInk(
            pixRotate(Ink.get(), Radians, L_ROTATE_AREA_MAP, L_BRING_IN_WHITE, 0, 0));
        if (Straight && StraightInk) {
            Page = std::move(Straight);
            Ink = std::move(StraightInk);
            Report.SkewDegrees = -Skew; // Leptonica measures counter-clockwise
        }
    }

    if (TPixPtr Rules = RulesOf(Page.get(), ASettings.TextHeight * 8)) {
        pixSetMasked(Page.get(), Rules.get(), 255);
        pixSubtract(Ink.get(), Ink.get(), Rules.get());
    }

    if (AReport != nullptr) {
        *AReport = Report;
    }
    // Faint ink to black, paper and its noise to white, along each of the curves.
    l_float32 InkLevel = 0;
    if (pixGetAverageMasked(Page.get(), Ink.get(), 0, 0, 1, L_MEAN_ABSVAL, &InkLevel) != 0 ||
        InkLevel >= kPaperLevel - 25 || ASettings.Contrasts.empty()) {
        Pages.push_back(std::move(Page));
        return Pages;
    }
    for (const float Gamma : ASettings.Contrasts) {
        if (TPixPtr Curved{pixGammaTRC(nullptr, Page.get(), Gamma, static_cast<int>(InkLevel),
                                       kPaperLevel - 15)}) {
            Pages.push_back(std::move(Curved));
        }
    }
    return Pages;
}

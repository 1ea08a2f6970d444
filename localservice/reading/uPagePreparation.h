#pragma once
// Turning a photographed page into what the recognition engine reads best, with Leptonica:
// grey, text scaled to the height the engine reads best, background evened out, straightened,
// table rules lifted out and faint ink darkened. Quarter turns are the recogniser's, which
// tells them by reading.
#include <memory>
#include <vector>

struct Pix;

struct TPixDeleter {
    void operator()(Pix* APix) const;
};
using TPixPtr = std::unique_ptr<Pix, TPixDeleter>;

struct TPreparationSettings {
    // Height in pixels that the tallest characters of a line are scaled to.
    int TextHeight = 28;
    // Gamma of each contrast curve a copy of the page is made with. Faint thin strokes read
    // best under a low one, noise on grey paper under a high one; the recogniser reads every
    // copy and the readings vote.
    std::vector<float> Contrasts{0.5f, 2.0f};
};

struct TPreparationReport {
    float Scale = 1;
    float SkewDegrees = 0; // the clockwise turn of the text that was undone
};

// One page per contrast curve, or a single page when the ink cannot be told from the paper;
// none when Leptonica could not work on this one (the caller then reads the original). Any
// depth in; 8 bpp grey out.
std::vector<TPixPtr> PreparePage(Pix* APage, const TPreparationSettings& ASettings,
                                 TPreparationReport* AReport = nullptr);

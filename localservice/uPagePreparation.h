#pragma once
// Turning a photographed page into what the recognition engine reads best, with Leptonica:
// grey, text scaled to the height the engine reads best, background evened out, straightened,
// table rules lifted out and faint ink darkened. Quarter turns are the sender's: the receiver
// shows the picture and its user turns it upright before sending it.
#include <memory>

struct Pix;

struct TPixDeleter {
    void operator()(Pix* APix) const;
};
using TPixPtr = std::unique_ptr<Pix, TPixDeleter>;

struct TPreparationSettings {
    // Height in pixels that the tallest characters of a line are scaled to.
    int TextHeight = 28;
    // Hand the engine a black and white page instead of the cleaned grey one.
    bool Binarize = false;
};

struct TPreparationReport {
    float Scale = 1;
    float SkewDegrees = 0; // the clockwise turn of the text that was undone
};

// A new page, or null when Leptonica could not work on this one (the caller then reads the
// original). Any depth in; 8 bpp grey or 1 bpp out.
TPixPtr PreparePage(Pix* APage, const TPreparationSettings& ASettings,
                    TPreparationReport* AReport = nullptr);

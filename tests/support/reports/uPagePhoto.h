#pragma once
// A phone photo of a printed page, made from the page as rendered: how it lies (turned a little,
// seen at a slant, on a desk, the phone held sideways), how it is lit (dim, from one side, a
// shadow across part of it), focus, sensor noise. Seeded, so the same settings make the same
// photo.
#include <QImage>

#include <vector>

// Separable Gaussian blur of a plane of floats, AWidth by AHeight.
void BlurPlane(std::vector<float>& APlane, int AWidth, int AHeight, double ASigma);

struct TPhotoSettings {
    double SkewDegrees = 0; // clockwise, the page turned on the desk
    // The phone tilted towards the page's foot: its top edge this share of the width narrower
    // than its foot, as the far edge of paper looks.
    double Keystone = 0;
    bool Desk = false;        // the page a little smaller than the frame, on a grey desk
    double Blur = 0;          // out of focus: the blur's sigma as a share of the text's height
    double PaperBright = 215; // grey level of the lit paper (of 255)
    double Falloff = 50;      // how much darker the paper gets towards the far corner
    double InkLevel = 80;     // grey level of the ink
    // A hand's or the phone's shadow over the part of the frame right of the line from
    // ShadowFrom to ShadowTo (looking along it; shares of the width and height): that part is
    // lit ShadowDepth less (0.45: 45 % darker).
    double ShadowDepth = 0;
    double ShadowFromX = 0, ShadowFromY = 0, ShadowToX = 0, ShadowToY = 0;
    double Noise = 0;     // sensor noise, standard deviation in grey levels
    int QuarterTurns = 0; // clockwise; the phone held sideways or upside down
};

// AClean is the page as printed, white paper and black ink; APixelSize the text's em in pixels.
QImage PhotographPage(const QImage& AClean, int APixelSize, const TPhotoSettings& ASettings,
                      unsigned ASeed);

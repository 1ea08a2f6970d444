#pragma once
#include <cmath>

// A 96-DPI design length scaled by a factor in whole percent: V x K / 100, halves away
// from zero. Qt's own high-DPI scaling works in device-independent pixels, so a window's
// factor is 100 and the display's scale comes on top.
inline int ScalePx(int AValue, int AScalePercent = 100) {
    return int(std::lround(double(AValue) * AScalePercent / 100.0));
}

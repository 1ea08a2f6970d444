#pragma once

#include "imaging/uBitmap.h"

// Quarter and half turns of a 24-bit bitmap. Each returns a new bitmap; the source is
// left to its owner. For a W x H source, with (x, y) as column and row from the top left:
//   clockwise:          H x W, pixel (x, y) goes to (H - 1 - y, x)
//   counter-clockwise:  H x W, pixel (x, y) goes to (y, W - 1 - x)
//   half turn:          W x H, pixel (x, y) goes to (W - 1 - x, H - 1 - y)
TBitmap24 RotateBitmap90(const TBitmap24& ABitmap, bool AClockwise);
TBitmap24 RotateBitmap180(const TBitmap24& ABitmap);
// The half turn done in place, for a bitmap the caller no longer needs as it was.
TBitmap24 RotateBitmap180(TBitmap24&& ABitmap);
// Left and right exchanged (pixel (x, y) goes to (W - 1 - x, y)), in place: the mirrored
// Exif orientations are a turn and this.
TBitmap24 MirrorBitmap(TBitmap24&& ABitmap);

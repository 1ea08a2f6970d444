#pragma once

#include "imaging/uBitmap.h"

#include <QByteArray>

// The Exif orientation (tag 0x0112) of a JPEG file, 1 to 8. Anything that is not a
// JPEG, has no Exif APP1 as its first APP1, or is cut short or malformed gives 1.
// Never reads outside the array.
int ReadJpegOrientation(const QByteArray& AFileBytes);

// Turns a decoded picture upright for its orientation tag: 3 half a turn, 6 a quarter
// turn clockwise, 8 counter-clockwise. Every other value (the mirrored 2, 4, 5, 7
// included) leaves the picture as stored.
TBitmap24 ApplyOrientation(const TBitmap24& ABitmap, int AOrientation);
// The same, reusing the source's buffer when nothing turns.
TBitmap24 ApplyOrientation(TBitmap24&& ABitmap, int AOrientation);

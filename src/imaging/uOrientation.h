#pragma once

#include "imaging/uBitmap.h"

#include <QByteArray>

// The Exif orientation (tag 0x0112) of a JPEG file, 1 to 8. Anything that is not a
// JPEG, has no Exif APP1 as its first APP1, or is cut short or malformed gives 1.
// Never reads outside the array.
int ReadJpegOrientation(const QByteArray& AFileBytes);

// Turns a decoded picture upright for its orientation tag, as every image viewer does:
// 2 mirrored left to right, 3 half a turn, 4 mirrored top to bottom, 5 mirrored across
// the main diagonal, 6 a quarter turn clockwise, 7 mirrored across the other diagonal,
// 8 a quarter turn counter-clockwise. Any other value leaves the picture as stored.
TBitmap24 ApplyOrientation(const TBitmap24& ABitmap, int AOrientation);
// The same, reusing the source's buffer when nothing turns.
TBitmap24 ApplyOrientation(TBitmap24&& ABitmap, int AOrientation);

// Each orientation is a turn (1, 3, 6 or 8) followed, for the mirrored ones, by a mirror
// from left to right.
int OrientationTurn(int AOrientation);
bool OrientationMirrors(int AOrientation);

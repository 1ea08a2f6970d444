#pragma once

#include "common/uRect.h"
#include "imaging/uBitmap.h"

#include <QByteArray>
#include <QSize>

// The longer side of a recognition upload, in pixels.
constexpr int MaxUploadSide = 1568;

// The size a region of AWidth x AHeight is uploaded at: unchanged when both sides are at
// most MaxUploadSide, else scaled by MaxUploadSide / max(w, h), each side rounded half
// to even and at least 1. Never enlarged.
QSize UploadSize(int AWidth, int AHeight);

// An area-averaging (box) downscale of ARegion of ASource to ANewWidth x ANewHeight, as
// Windows' halftone stretch does it: each target pixel is the mean of the source
// area it covers, partial pixels weighed by the part covered. A flat colour stays exactly
// that colour. ARegion is cut to ASource first; both new sides must be at least 1 and at
// most the cut region's, else (and for an empty cut) the result is empty.
TBitmap24 DownscaleArea(const TBitmap24& ASource, const TRect& ARegion, int ANewWidth,
                        int ANewHeight);

// A baseline (not progressive) colour JPEG of the whole bitmap at AQuality (1 to 100;
// libjpeg clamps others), 4:2:0, with the JFIF segment and no Exif segment. Empty for an
// empty bitmap or when libjpeg fails.
QByteArray EncodeJpeg(const TBitmap24& ABitmap, int AQuality = 85);

// The JPEG bytes of ARegion of ABitmap (image pixels, Right and Bottom exclusive): the
// region downscaled to UploadSize with the area average when larger, encoded at quality
// 85 (EncodeJpeg) without orientation tag. Empty when the bitmap is empty, or the region
// is empty or inverted or does not overlap the bitmap; a region reaching outside the
// bitmap is cut to it. The downscaled rows go to the encoder as they are made; the
// memory used beyond the result is about a few rows of the region.
QByteArray CropToJpeg(const TBitmap24& ABitmap, const TRect& ARegion);

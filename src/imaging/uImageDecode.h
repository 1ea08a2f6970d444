#pragma once

#include "imaging/uBitmap.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <optional>

// The largest picture decoded, in pixels: twice a 100-megapixel phone photo, 600 MB as a
// bitmap. A larger declared size is refused before any memory is taken for it; formats
// other than JPEG are further held to Qt's own allocation limit.
constexpr qint64 MaxImagePixels = 200'000'000;

// Decodes an image file held in memory into a 24-bit bitmap, as stored (no orientation
// applied). The format is taken from the bytes, never from a name: JPEG, PNG, BMP, GIF
// and whatever else Qt's image readers know. Empty, cut-short or unreadable data gives
// nullopt and, when AError is given, a message.
std::optional<TBitmap24> DecodeImage(const QByteArray& ABytes, QString* AError = nullptr);

// DecodeImage, then turned upright by the file's Exif orientation (ReadJpegOrientation,
// ApplyOrientation). A JPEG is turned band by band while it decodes.
std::optional<TBitmap24> DecodeUpright(const QByteArray& ABytes, QString* AError = nullptr);

// A read-only QImage (Format_RGB888) over the bitmap's pixels, without a copy. It is
// valid while the bitmap's pixels live: moving the bitmap keeps them, destroying frees them.
QImage BitmapToImage(const TBitmap24& ABitmap);

// A copy of any QImage as a 24-bit bitmap; alpha is dropped. Empty for a null image.
TBitmap24 ImageToBitmap(const QImage& AImage);

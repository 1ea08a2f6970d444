#pragma once

// Real JPEG files for tests and benchmarks: a test pattern encoded with libjpeg, with the
// APP segments a phone camera writes placed right after the start-of-image marker.

#include <QByteArray>

#include <cstddef>
#include <cstdint>

struct TJpegExif {
    bool WithExif = true;   // false: no Exif segment at all
    int Orientation = 1;    // value of tag 0x0112, written as given (0, 9, 0xFFFF too)
    bool BigEndian = false; // "MM" instead of "II"
    bool XmpFirst = false;  // an XMP APP1 segment ahead of the Exif one
    // >= 0: the file ends this many bytes into the first directory (byte 0 is its
    // entry count), as when a transfer breaks off inside the Exif data.
    int CutIfdAt = -1;
};

// Where the Exif parts of a file made by MakeJpeg lie (byte offsets from the file start).
struct TExifLayout {
    qsizetype TiffStart = 0;        // the "II"/"MM" byte order mark
    qsizetype IfdStart = 0;         // the first directory's entry count
    qsizetype OrientationEntry = 0; // the 12-byte entry of tag 0x0112
    qsizetype OrientationEntryEnd() const { return OrientationEntry + 12; }
};

// The test pattern: a smooth background with a block of KMarker colour filling the top
// left quarter (width / 4 x height / 4, at least 1 x 1), so any turn is visible.
// ATextured adds fine detail and noise, as a photo has, so the file is not trivially small.
void FillTestPattern(uint8_t* ARgb, int AWidth, int AHeight, std::ptrdiff_t AStride,
                     bool ATextured = false);
// True for a decoded pixel of the marker block (JPEG loss allowed for).
bool IsMarkerPixel(const uint8_t* APixel);

// Baseline JPEG of the given RGB rows (libjpeg's own JFIF APP0 only).
QByteArray EncodeJpeg(const uint8_t* ARgb, int AWidth, int AHeight, std::ptrdiff_t AStride,
                      int AQuality = 85);

// APP1 "Exif" segment (marker included) with a three-entry directory: Make,
// Orientation, XResolution.
QByteArray ExifSegment(const TJpegExif& AExif);
// APP1 segment with an XMP packet (marker included).
QByteArray XmpSegment();
// AJpeg with ASegments inserted right after its start-of-image marker.
QByteArray InsertAfterSoi(const QByteArray& AJpeg, const QByteArray& ASegments);

// The test pattern as a JPEG with the segments AExif asks for.
QByteArray MakeJpeg(int AWidth, int AHeight, const TJpegExif& AExif = {}, int AQuality = 85,
                    bool ATextured = false);
TExifLayout ExifLayoutOf(const TJpegExif& AExif);

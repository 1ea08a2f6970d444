#include "uJpegFixture.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <vector>

#include <jpeglib.h>

namespace {

constexpr uint8_t KMarker[3] = {230, 20, 20};

// A small deterministic generator: the same pattern on every run and platform.
uint32_t Hash(uint32_t AX) {
    AX ^= AX >> 16;
    AX *= 0x7feb352dU;
    AX ^= AX >> 15;
    AX *= 0x846ca68bU;
    AX ^= AX >> 16;
    return AX;
}

uint8_t Clamp(int AV) {
    return static_cast<uint8_t>(AV < 0 ? 0 : AV > 255 ? 255 : AV);
}

class TWriter {
public:
    void U8(int AV) { FBytes.append(static_cast<char>(AV & 0xFF)); }
    void U16(int AV) {
        if (FBig) {
            U8(AV >> 8);
            U8(AV);
        } else {
            U8(AV);
            U8(AV >> 8);
        }
    }
    void U32(uint32_t AV) {
        if (FBig) {
            U16(static_cast<int>(AV >> 16));
            U16(static_cast<int>(AV & 0xFFFF));
        } else {
            U16(static_cast<int>(AV & 0xFFFF));
            U16(static_cast<int>(AV >> 16));
        }
    }
    void Raw(const QByteArray& AB) { FBytes.append(AB); }
    void SetBigEndian(bool AB) { FBig = AB; }
    QByteArray& Bytes() { return FBytes; }

private:
    QByteArray FBytes;
    bool FBig = true;
};

QByteArray App1(const QByteArray& APayload) {
    if (APayload.size() + 2 > 0xFFFF)
        throw std::length_error("APP1 payload too long");
    TWriter w;
    w.U8(0xFF);
    w.U8(0xE1);
    w.U16(static_cast<int>(APayload.size() + 2));
    w.Raw(APayload);
    return w.Bytes();
}

constexpr int KIfdEntries = 3;
constexpr int KOrientationIndex = 1;

// The TIFF block: header, one directory, the data its entries point at.
QByteArray TiffBlock(const TJpegExif& AExif) {
    TWriter w;
    w.SetBigEndian(AExif.BigEndian);
    w.Raw(AExif.BigEndian ? QByteArray("MM") : QByteArray("II"));
    w.U16(42);
    w.U32(8); // first directory right after the header
    const uint32_t dataStart = 8 + 2 + 12 * KIfdEntries + 4;
    const QByteArray make("Pictoport test camera", 22); // with its terminating zero
    w.U16(KIfdEntries);
    // Make: ASCII, stored after the directory.
    w.U16(0x010F);
    w.U16(2);
    w.U32(static_cast<uint32_t>(make.size()));
    w.U32(dataStart);
    // Orientation: SHORT, the value in the first two bytes of the field.
    w.U16(0x0112);
    w.U16(3);
    w.U32(1);
    w.U16(AExif.Orientation);
    w.U16(0);
    // XResolution: RATIONAL 72/1, after the Make text.
    w.U16(0x011A);
    w.U16(5);
    w.U32(1);
    w.U32(dataStart + static_cast<uint32_t>(make.size()));
    w.U32(0); // no next directory
    w.Raw(make);
    w.U32(72);
    w.U32(1);
    return w.Bytes();
}

} // namespace

void FillTestPattern(uint8_t* ARgb, int AWidth, int AHeight, std::ptrdiff_t AStride,
                     bool ATextured) {
    const int markerW = std::max(1, AWidth / 4), markerH = std::max(1, AHeight / 4);
    for (int y = 0; y < AHeight; ++y) {
        uint8_t* row = ARgb + y * AStride;
        for (int x = 0; x < AWidth; ++x) {
            uint8_t* p = row + x * 3;
            if (x < markerW && y < markerH) {
                p[0] = KMarker[0];
                p[1] = KMarker[1];
                p[2] = KMarker[2];
                continue;
            }
            int r = 40, g = 90 + 100 * x / AWidth, b = 90 + 100 * y / AHeight;
            if (ATextured) {
                // Paper-like grain and print-like strokes: detail a photo of a document has.
                const uint32_t n =
                    Hash(static_cast<uint32_t>(y) * 65537U + static_cast<uint32_t>(x));
                const int grain = static_cast<int>(n & 31) - 16;
                const int stroke = ((x / 3 + y / 7) % 11 == 0) ? -60 : 0;
                const int wave = static_cast<int>(20 * std::sin(x * 0.07) * std::cos(y * 0.05));
                r += grain + stroke + wave;
                g += grain / 2 + stroke;
                b += static_cast<int>((n >> 8) & 15) - 8 + stroke - wave;
            }
            p[0] = Clamp(r);
            p[1] = Clamp(g);
            p[2] = Clamp(b);
        }
    }
}

bool IsMarkerPixel(const uint8_t* APixel) {
    return APixel[0] > 180 && APixel[1] < 80 && APixel[2] < 80;
}

QByteArray EncodeJpeg(const uint8_t* ARgb, int AWidth, int AHeight, std::ptrdiff_t AStride,
                      int AQuality) {
    jpeg_compress_struct info;
    jpeg_error_mgr err;
    // libjpeg's default handler ends the process on error; for a fixture that encodes
    // its own well-formed pattern that only happens on a broken build.
    info.err = jpeg_std_error(&err);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&info, &out, &outSize);
    info.image_width = static_cast<JDIMENSION>(AWidth);
    info.image_height = static_cast<JDIMENSION>(AHeight);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, AQuality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(ARgb + info.next_scanline * AStride);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    QByteArray bytes(reinterpret_cast<const char*>(out), static_cast<qsizetype>(outSize));
    std::free(out);
    return bytes;
}

QByteArray ExifSegment(const TJpegExif& AExif) {
    return App1(QByteArray("Exif\0\0", 6) + TiffBlock(AExif));
}

QByteArray XmpSegment() {
    return App1(QByteArray("http://ns.adobe.com/xap/1.0/\0", 29) +
                QByteArray("<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
                           "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
                           "<rdf:Description xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\" "
                           "tiff:Orientation=\"6\"/></rdf:RDF></x:xmpmeta>"));
}

QByteArray InsertAfterSoi(const QByteArray& AJpeg, const QByteArray& ASegments) {
    QByteArray out = AJpeg;
    out.insert(2, ASegments);
    return out;
}

TExifLayout ExifLayoutOf(const TJpegExif& AExif) {
    TExifLayout layout;
    const qsizetype app1 = 2 + (AExif.XmpFirst ? XmpSegment().size() : 0);
    layout.TiffStart = app1 + 4 + 6; // marker, length, "Exif\0\0"
    layout.IfdStart = layout.TiffStart + 8;
    layout.OrientationEntry = layout.IfdStart + 2 + 12 * KOrientationIndex;
    return layout;
}

QByteArray MakeJpeg(int AWidth, int AHeight, const TJpegExif& AExif, int AQuality, bool ATextured) {
    const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(AWidth) * 3;
    std::vector<uint8_t> rgb(static_cast<std::size_t>(stride) * AHeight);
    FillTestPattern(rgb.data(), AWidth, AHeight, stride, ATextured);
    QByteArray segments;
    if (AExif.XmpFirst)
        segments += XmpSegment();
    if (AExif.WithExif)
        segments += ExifSegment(AExif);
    QByteArray file =
        InsertAfterSoi(EncodeJpeg(rgb.data(), AWidth, AHeight, stride, AQuality), segments);
    if (AExif.WithExif && AExif.CutIfdAt >= 0)
        file.truncate(ExifLayoutOf(AExif).IfdStart + AExif.CutIfdAt);
    return file;
}

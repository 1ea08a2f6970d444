// The cut-out to JPEG (CropToJpeg) and its parts: the upload size, the area-averaging
// downscale (against an exact area mean computed in double precision, and on patterns
// that only an averaging filter turns grey) and the encoder's file structure. JPEG
// results are decoded with libjpeg here, so the test needs the core only.

#include "imaging/uCrop.h"

#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <climits>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>

namespace {

// ---------------------------------------------------------------------------------------
// Pictures

struct TRgb {
    uint8_t R, G, B;
};

TBitmap24 Flat(int AW, int AH, TRgb AC) {
    TBitmap24 b(AW, AH);
    for (int y = 0; y < AH; ++y) {
        uint8_t* row = b.Row(y);
        for (int x = 0; x < AW; ++x) {
            row[x * 3 + 0] = AC.R;
            row[x * 3 + 1] = AC.G;
            row[x * 3 + 2] = AC.B;
        }
    }
    return b;
}

void FillRect(TBitmap24& AB, const TRect& AR, TRgb AC) {
    for (int y = AR.Top; y < AR.Bottom; ++y)
        for (int x = AR.Left; x < AR.Right; ++x) {
            uint8_t* p = AB.Row(y) + x * 3;
            p[0] = AC.R;
            p[1] = AC.G;
            p[2] = AC.B;
        }
}

// Black and white one-pixel squares; (0, 0) is white.
TBitmap24 Checkerboard(int AW, int AH) {
    TBitmap24 b(AW, AH);
    for (int y = 0; y < AH; ++y) {
        uint8_t* row = b.Row(y);
        for (int x = 0; x < AW; ++x)
            std::memset(row + x * 3, (x + y) % 2 == 0 ? 255 : 0, 3);
    }
    return b;
}

TBitmap24 Noise(int AW, int AH, quint32 ASeed) {
    QRandomGenerator rng(ASeed);
    TBitmap24 b(AW, AH);
    for (int y = 0; y < AH; ++y) {
        uint8_t* row = b.Row(y);
        for (int x = 0; x < AW * 3; ++x)
            row[x] = static_cast<uint8_t>(rng.bounded(256));
    }
    return b;
}

// ---------------------------------------------------------------------------------------
// The exact area mean, in double precision

// The part of source pixel AJ inside target pixel AI, in source pixels, for ASrc source
// pixels onto ADst target pixels.
double Coverage(int AJ, int AI, int ASrc, int ADst) {
    const double lo = double(AI) * ASrc / ADst, hi = double(AI + 1) * ASrc / ADst;
    return std::max(0.0, std::min(hi, AJ + 1.0) - std::max(lo, double(AJ)));
}

// Channel AC of target pixel (AX, AY) of ARegion of ASrc scaled to ANw x ANh.
double AreaMean(const TBitmap24& ASrc, const TRect& ARegion, int ANw, int ANh, int AX, int AY,
                int AC) {
    const int w = ARegion.Width(), h = ARegion.Height();
    const int x0 = int(std::floor(double(AX) * w / ANw)),
              y0 = int(std::floor(double(AY) * h / ANh));
    const int x1 = std::min(w, int(std::ceil(double(AX + 1) * w / ANw)));
    const int y1 = std::min(h, int(std::ceil(double(AY + 1) * h / ANh)));
    double sum = 0;
    for (int y = y0; y < y1; ++y) {
        const double cy = Coverage(y, AY, h, ANh);
        const uint8_t* row = ASrc.Row(ARegion.Top + y) + ARegion.Left * 3;
        for (int x = x0; x < x1; ++x)
            sum += cy * Coverage(x, AX, w, ANw) * row[x * 3 + AC];
    }
    return sum / (double(w) / ANw * double(h) / ANh);
}

// For the checkerboard: the mean of (-1)^j over target pixel AI, coverage-weighed.
double AlternatingMean(int AI, int ASrc, int ADst) {
    const int j0 = int(std::floor(double(AI) * ASrc / ADst));
    const int j1 = std::min(ASrc, int(std::ceil(double(AI + 1) * ASrc / ADst)));
    double sum = 0;
    for (int j = j0; j < j1; ++j)
        sum += (j % 2 == 0 ? 1 : -1) * Coverage(j, AI, ASrc, ADst);
    return sum / (double(ASrc) / ADst);
}

// ---------------------------------------------------------------------------------------
// JPEG files

struct TDecoded {
    bool Ok = false;
    int Width = 0, Height = 0, Components = 0;
    bool Progressive = false;
    std::vector<uint8_t> Pixels; // RGB, rows packed

    const uint8_t* At(int AX, int AY) const {
        return Pixels.data() + (static_cast<std::size_t>(AY) * Width + AX) * 3;
    }
};

struct TDecodeError {
    jpeg_error_mgr Pub;
    std::jmp_buf Jump;
};

// Plain C data only between setjmp and the jump.
bool DecodeInto(const QByteArray& AJpeg, jpeg_decompress_struct& AInfo, TDecodeError& AErr,
                TDecoded& AOut) {
    AInfo.err = jpeg_std_error(&AErr.Pub);
    AErr.Pub.error_exit = [](j_common_ptr AI) {
        std::longjmp(reinterpret_cast<TDecodeError*>(AI->err)->Jump, 1);
    };
    if (setjmp(AErr.Jump))
        return false;
    jpeg_create_decompress(&AInfo);
    jpeg_mem_src(&AInfo, reinterpret_cast<const unsigned char*>(AJpeg.constData()),
                 static_cast<unsigned long>(AJpeg.size()));
    jpeg_read_header(&AInfo, TRUE);
    AOut.Components = AInfo.num_components;
    AOut.Progressive = jpeg_has_multiple_scans(&AInfo);
    AInfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&AInfo);
    AOut.Width = static_cast<int>(AInfo.output_width);
    AOut.Height = static_cast<int>(AInfo.output_height);
    AOut.Pixels.resize(static_cast<std::size_t>(AOut.Width) * AOut.Height * 3);
    while (AInfo.output_scanline < AInfo.output_height) {
        JSAMPROW row =
            AOut.Pixels.data() + static_cast<std::size_t>(AInfo.output_scanline) * AOut.Width * 3;
        jpeg_read_scanlines(&AInfo, &row, 1);
    }
    jpeg_finish_decompress(&AInfo);
    return true;
}

TDecoded Decode(const QByteArray& AJpeg) {
    TDecoded out;
    jpeg_decompress_struct info;
    TDecodeError err;
    std::memset(&info, 0, sizeof info);
    out.Ok = DecodeInto(AJpeg, info, err, out);
    jpeg_destroy_decompress(&info);
    return out;
}

// The markers of a JPEG file up to its first scan, in order (0xD8 first); empty when
// the structure is broken.
std::vector<int> MarkersUpToScan(const QByteArray& AJpeg, int* AApp0Jfif = nullptr) {
    const auto* b = reinterpret_cast<const uint8_t*>(AJpeg.constData());
    const qsizetype n = AJpeg.size();
    if (n < 4 || b[0] != 0xFF || b[1] != 0xD8)
        return {};
    std::vector<int> markers{0xD8};
    qsizetype i = 2;
    while (i + 4 <= n) {
        if (b[i] != 0xFF)
            return {};
        const int marker = b[i + 1];
        const int length = b[i + 2] << 8 | b[i + 3];
        markers.push_back(marker);
        if (marker == 0xE0 && AApp0Jfif && i + 9 <= n && std::memcmp(b + i + 4, "JFIF", 5) == 0)
            ++*AApp0Jfif;
        if (marker == 0xDA)
            return markers;
        i += 2 + length;
    }
    return {};
}

int Count(const std::vector<int>& AV, int AMarker) {
    return int(std::count(AV.begin(), AV.end(), AMarker));
}

// Largest difference of any channel of a decoded picture from one colour.
int MaxDeviation(const TDecoded& AD, TRgb AC) {
    int worst = 0;
    for (std::size_t i = 0; i + 2 < AD.Pixels.size(); i += 3) {
        worst = std::max(worst, std::abs(AD.Pixels[i] - AC.R));
        worst = std::max(worst, std::abs(AD.Pixels[i + 1] - AC.G));
        worst = std::max(worst, std::abs(AD.Pixels[i + 2] - AC.B));
    }
    return worst;
}

bool SamePixels(const TBitmap24& AA, const TBitmap24& AB) {
    if (AA.Width() != AB.Width() || AA.Height() != AB.Height())
        return false;
    for (int y = 0; y < AA.Height(); ++y)
        if (std::memcmp(AA.Row(y), AB.Row(y), static_cast<std::size_t>(AA.Width()) * 3) != 0)
            return false;
    return true;
}

TBitmap24 Copy(const TBitmap24& AB, const TRect& AR) {
    TBitmap24 out(AR.Width(), AR.Height());
    for (int y = 0; y < AR.Height(); ++y)
        std::memcpy(out.Row(y), AB.Row(AR.Top + y) + AR.Left * 3,
                    static_cast<std::size_t>(AR.Width()) * 3);
    return out;
}

// JPEG loss on flat areas at quality 85 (colour conversion and rounding).
constexpr int KJpegFlatTolerance = 3;

} // namespace

Q_DECLARE_METATYPE(TRect)

class TCropTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void uploadSize_data();
    void uploadSize();
    void cropSizes_data();
    void cropSizes();
    void nothingToCut_data();
    void nothingToCut();
    void partlyOutsideIsCut_data();
    void partlyOutsideIsCut();
    void fileStructure_data();
    void fileStructure();
    void encodeJpeg();
    void streamedEqualsDownscaleThenEncode_data();
    void streamedEqualsDownscaleThenEncode();
    void downscaleMatchesAreaMean_data();
    void downscaleMatchesAreaMean();
    void downscaleRejects();
    void flatColourStaysExact_data();
    void flatColourStaysExact();
    void checkerboardHalfIsGrey();
    void checkerboardPhotoSizeIsGrey();
    void regionKeepsItsPixels_data();
    void regionKeepsItsPixels();
    void nothingBleedsIn_data();
    void nothingBleedsIn();
};

// ---------------------------------------------------------------------------------------

void TCropTest::uploadSize_data() {
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("h");
    QTest::addColumn<int>("nw");
    QTest::addColumn<int>("nh");
    QTest::newRow("photo 4032x3024") << 4032 << 3024 << 1568 << 1176;
    QTest::newRow("portrait 3024x4032") << 3024 << 4032 << 1176 << 1568;
    QTest::newRow("strip 5000x100") << 5000 << 100 << 1568 << 31;
    QTest::newRow("at the limit 1568x1000") << 1568 << 1000 << 1568 << 1000;
    QTest::newRow("at the limit 1568x1568") << 1568 << 1568 << 1568 << 1568;
    QTest::newRow("one over 1569x10") << 1569 << 10 << 1568 << 10;
    QTest::newRow("one over 1569x1569") << 1569 << 1569 << 1568 << 1568;
    QTest::newRow("column 1x5000") << 1 << 5000 << 1 << 1568;
    QTest::newRow("line 100000x1 keeps 1") << 100000 << 1 << 1568 << 1;
    QTest::newRow("small 4x4") << 4 << 4 << 4 << 4;
    // f = 1/2 exactly: 2.5 and 3.5 go to the even neighbour.
    QTest::newRow("half to even 3136x5") << 3136 << 5 << 1568 << 2;
    QTest::newRow("half to even 3136x7") << 3136 << 7 << 1568 << 4;
    QTest::newRow("half to even 9x3136") << 9 << 3136 << 4 << 1568;
}

void TCropTest::uploadSize() {
    QFETCH(int, w);
    QFETCH(int, h);
    QFETCH(int, nw);
    QFETCH(int, nh);
    QCOMPARE(UploadSize(w, h), QSize(nw, nh));
}

// Region of a bitmap -> size of the decoded JPEG.
void TCropTest::cropSizes_data() {
    QTest::addColumn<int>("bw");
    QTest::addColumn<int>("bh");
    QTest::addColumn<TRect>("region");
    QTest::addColumn<int>("nw");
    QTest::addColumn<int>("nh");
    QTest::newRow("whole photo") << 4032 << 3024 << TRect{0, 0, 4032, 3024} << 1568 << 1176;
    QTest::newRow("whole portrait") << 3024 << 4032 << TRect{0, 0, 3024, 4032} << 1176 << 1568;
    QTest::newRow("region 5000x100") << 5200 << 300 << TRect{100, 150, 5100, 250} << 1568 << 31;
    QTest::newRow("region 1568x1000 unscaled")
        << 4032 << 3024 << TRect{17, 33, 17 + 1568, 33 + 1000} << 1568 << 1000;
    QTest::newRow("region 1569x10") << 2000 << 20 << TRect{3, 5, 3 + 1569, 15} << 1568 << 10;
    QTest::newRow("strip 1x5000") << 10 << 5000 << TRect{9, 0, 10, 5000} << 1 << 1568;
    QTest::newRow("4x4") << 100 << 100 << TRect{10, 10, 14, 14} << 4 << 4;
    QTest::newRow("1x1") << 1 << 1 << TRect{0, 0, 1, 1} << 1 << 1;
}

void TCropTest::cropSizes() {
    QFETCH(int, bw);
    QFETCH(int, bh);
    QFETCH(TRect, region);
    QFETCH(int, nw);
    QFETCH(int, nh);
    const TBitmap24 bitmap = Noise(bw, bh, 7);
    const QByteArray jpeg = CropToJpeg(bitmap, region);
    QVERIFY(!jpeg.isEmpty());
    const TDecoded d = Decode(jpeg);
    QVERIFY(d.Ok);
    QCOMPARE(d.Width, nw);
    QCOMPARE(d.Height, nh);
    QCOMPARE(d.Components, 3);
}

void TCropTest::nothingToCut_data() {
    QTest::addColumn<TRect>("region");
    QTest::newRow("empty width") << TRect{10, 10, 10, 20};
    QTest::newRow("empty height") << TRect{10, 10, 20, 10};
    QTest::newRow("all zero") << TRect{0, 0, 0, 0};
    QTest::newRow("inverted x") << TRect{20, 10, 10, 20};
    QTest::newRow("inverted y") << TRect{10, 20, 20, 10};
    QTest::newRow("inverted both") << TRect{50, 40, 0, 0};
    QTest::newRow("left of it") << TRect{-30, 0, 0, 40};
    QTest::newRow("above it") << TRect{0, -30, 50, 0};
    QTest::newRow("right of it") << TRect{100, 0, 130, 80};
    QTest::newRow("below it") << TRect{0, 80, 100, 90};
    QTest::newRow("far away") << TRect{INT_MAX - 10, INT_MAX - 10, INT_MAX, INT_MAX};
    QTest::newRow("far before") << TRect{INT_MIN, INT_MIN, INT_MIN + 10, INT_MIN + 10};
}

void TCropTest::nothingToCut() {
    QFETCH(TRect, region);
    const TBitmap24 bitmap = Noise(100, 80, 1);
    QVERIFY(CropToJpeg(bitmap, region).isEmpty());
    QVERIFY(DownscaleArea(bitmap, region, 1, 1).IsEmpty());
    // No bitmap: nothing, whatever the region.
    QVERIFY(CropToJpeg(TBitmap24(), TRect{0, 0, 10, 10}).isEmpty());
}

// A region reaching outside the bitmap is cut to it: the result is the inside part.
void TCropTest::partlyOutsideIsCut_data() {
    QTest::addColumn<TRect>("region");
    QTest::addColumn<TRect>("inside");
    QTest::newRow("top left") << TRect{-10, -20, 50, 40} << TRect{0, 0, 50, 40};
    QTest::newRow("bottom right") << TRect{90, 70, 200, 200} << TRect{90, 70, 100, 80};
    QTest::newRow("around it") << TRect{-5, -5, 105, 85} << TRect{0, 0, 100, 80};
    QTest::newRow("whole int range")
        << TRect{INT_MIN, INT_MIN, INT_MAX, INT_MAX} << TRect{0, 0, 100, 80};
}

void TCropTest::partlyOutsideIsCut() {
    QFETCH(TRect, region);
    QFETCH(TRect, inside);
    const TBitmap24 bitmap = Noise(100, 80, 2);
    const QByteArray jpeg = CropToJpeg(bitmap, region);
    QVERIFY(!jpeg.isEmpty());
    QCOMPARE(jpeg, CropToJpeg(bitmap, inside));
    const TDecoded d = Decode(jpeg);
    QCOMPARE(d.Width, inside.Width());
    QCOMPARE(d.Height, inside.Height());
    // The same holds for the downscale.
    QVERIFY(SamePixels(DownscaleArea(bitmap, region, 7, 5), DownscaleArea(bitmap, inside, 7, 5)));
}

// Baseline (SOF0, no progressive SOF2), three components, JFIF APP0, no APP1 (Exif).
void TCropTest::fileStructure_data() {
    QTest::addColumn<TRect>("region");
    QTest::newRow("unscaled") << TRect{10, 20, 810, 620};
    QTest::newRow("downscaled") << TRect{0, 0, 2000, 1500};
}

void TCropTest::fileStructure() {
    QFETCH(TRect, region);
    const TBitmap24 bitmap = Noise(2000, 1500, 3);
    const QByteArray jpeg = CropToJpeg(bitmap, region);
    int jfif = 0;
    const std::vector<int> markers = MarkersUpToScan(jpeg, &jfif);
    QVERIFY(!markers.empty());
    QVERIFY(jpeg.endsWith("\xFF\xD9"));
    QCOMPARE(Count(markers, 0xC0), 1); // SOF0: baseline
    for (int sof : {0xC1, 0xC2, 0xC3, 0xC5, 0xC6, 0xC7, 0xC9, 0xCA, 0xCB, 0xCD, 0xCE, 0xCF})
        QCOMPARE(Count(markers, sof), 0);
    QCOMPARE(Count(markers, 0xE1), 0); // no Exif (or XMP)
    QCOMPARE(jfif, 1);
    QVERIFY(!jpeg.contains("Exif"));
    const TDecoded d = Decode(jpeg);
    QVERIFY(d.Ok);
    QCOMPARE(d.Components, 3);
    QVERIFY(!d.Progressive);
}

void TCropTest::encodeJpeg() {
    QVERIFY(EncodeJpeg(TBitmap24()).isEmpty());
    const TBitmap24 bitmap = Noise(123, 45, 4);
    const QByteArray q85 = EncodeJpeg(bitmap);
    QCOMPARE(q85, EncodeJpeg(bitmap, 85));
    const TDecoded d = Decode(q85);
    QVERIFY(d.Ok);
    QCOMPARE(d.Width, 123);
    QCOMPARE(d.Height, 45);
    QVERIFY(!d.Progressive);
    // The quality is applied: noise costs more bytes at 95 than at 50.
    QVERIFY(EncodeJpeg(bitmap, 95).size() > q85.size());
    QVERIFY(EncodeJpeg(bitmap, 50).size() < q85.size());
    // Out-of-range qualities are clamped by libjpeg, not failures.
    QVERIFY(!EncodeJpeg(bitmap, 0).isEmpty());
    QVERIFY(!EncodeJpeg(bitmap, 1000).isEmpty());
    // A cut of the whole, unscaled, is the same file.
    QCOMPARE(CropToJpeg(bitmap, TRect{0, 0, 123, 45}), q85);
    // libjpeg's own failure (wider than JPEG's 65500 pixels) gives an empty array, and
    // the process lives on; cut for upload the same picture is scaled and fine.
    const TBitmap24 wide = Flat(70000, 2, TRgb{1, 2, 3});
    QVERIFY(EncodeJpeg(wide).isEmpty());
    const TDecoded d2 = Decode(CropToJpeg(wide, TRect{0, 0, 70000, 2}));
    QCOMPARE(d2.Width, 1568);
    QCOMPARE(d2.Height, 1);
}

// CropToJpeg feeds the downscaled rows to the encoder as it makes them; the file is the
// same as copying, downscaling into a new bitmap and encoding it would give.
void TCropTest::streamedEqualsDownscaleThenEncode_data() {
    QTest::addColumn<int>("bw");
    QTest::addColumn<int>("bh");
    QTest::addColumn<TRect>("region");
    QTest::newRow("photo") << 4032 << 3024 << TRect{0, 0, 4032, 3024};
    QTest::newRow("offset region") << 3000 << 2000 << TRect{111, 7, 2900, 1999};
    QTest::newRow("unscaled region") << 3000 << 2000 << TRect{111, 7, 1111, 1007};
}

void TCropTest::streamedEqualsDownscaleThenEncode() {
    QFETCH(int, bw);
    QFETCH(int, bh);
    QFETCH(TRect, region);
    const TBitmap24 bitmap = Noise(bw, bh, 5);
    const QSize size = UploadSize(region.Width(), region.Height());
    const TBitmap24 copy = Copy(bitmap, region);
    const TBitmap24 scaled = DownscaleArea(copy, TRect{0, 0, region.Width(), region.Height()},
                                           size.width(), size.height());
    // The copy step changes nothing.
    QVERIFY(SamePixels(scaled, DownscaleArea(bitmap, region, size.width(), size.height())));
    QCOMPARE(CropToJpeg(bitmap, region), EncodeJpeg(scaled, 85));
}

// Every channel of every pixel within one level of the exact area mean (the rounding is
// to nearest, the 12-bit weights add well under half a level).
void TCropTest::downscaleMatchesAreaMean_data() {
    QTest::addColumn<int>("bw");
    QTest::addColumn<int>("bh");
    QTest::addColumn<TRect>("region");
    QTest::addColumn<int>("nw");
    QTest::addColumn<int>("nh");
    QTest::newRow("same size") << 40 << 30 << TRect{0, 0, 40, 30} << 40 << 30;
    QTest::newRow("2:1") << 64 << 48 << TRect{0, 0, 64, 48} << 32 << 24;
    QTest::newRow("3:1") << 99 << 60 << TRect{0, 0, 99, 60} << 33 << 20;
    QTest::newRow("photo ratio") << 403 << 302 << TRect{0, 0, 403, 302} << 156 << 117;
    QTest::newRow("odd ratios") << 300 << 200 << TRect{0, 0, 300, 200} << 117 << 79;
    QTest::newRow("offset region") << 300 << 200 << TRect{7, 5, 258, 178} << 100 << 61;
    QTest::newRow("one axis only") << 300 << 50 << TRect{0, 0, 300, 50} << 113 << 50;
    QTest::newRow("other axis only") << 50 << 300 << TRect{0, 0, 50, 300} << 50 << 113;
    QTest::newRow("barely smaller") << 101 << 101 << TRect{0, 0, 101, 101} << 100 << 99;
    QTest::newRow("to one pixel") << 57 << 43 << TRect{0, 0, 57, 43} << 1 << 1;
    QTest::newRow("to one row") << 300 << 40 << TRect{0, 0, 300, 40} << 71 << 1;
    QTest::newRow("large ratio") << 2000 << 30 << TRect{0, 0, 2000, 30} << 7 << 3;
    QTest::newRow("column") << 1 << 500 << TRect{0, 0, 1, 500} << 1 << 157;
    QTest::newRow("wide rows (chunks, vector tails)")
        << 2777 << 9 << TRect{3, 1, 2776, 9} << 1001 << 5;
}

void TCropTest::downscaleMatchesAreaMean() {
    QFETCH(int, bw);
    QFETCH(int, bh);
    QFETCH(TRect, region);
    QFETCH(int, nw);
    QFETCH(int, nh);
    const TBitmap24 src = Noise(bw, bh, quint32(bw * 7919 + bh));
    const TBitmap24 out = DownscaleArea(src, region, nw, nh);
    QCOMPARE(out.Width(), nw);
    QCOMPARE(out.Height(), nh);
    double worst = 0;
    for (int y = 0; y < nh; ++y)
        for (int x = 0; x < nw; ++x)
            for (int c = 0; c < 3; ++c) {
                const double d =
                    std::abs(out.Row(y)[x * 3 + c] - AreaMean(src, region, nw, nh, x, y, c));
                if (d > worst)
                    worst = d;
                if (d >= 1.0)
                    QFAIL(qPrintable(QStringLiteral("(%1, %2) channel %3: %4, exact %5")
                                         .arg(x)
                                         .arg(y)
                                         .arg(c)
                                         .arg(out.Row(y)[x * 3 + c])
                                         .arg(AreaMean(src, region, nw, nh, x, y, c))));
            }
    QVERIFY2(worst < 0.6, qPrintable(QString::number(worst))); // rounding to nearest
}

void TCropTest::downscaleRejects() {
    const TBitmap24 src = Noise(50, 40, 6);
    const TRect all{0, 0, 50, 40};
    QVERIFY(DownscaleArea(src, all, 51, 40).IsEmpty()); // never enlarged
    QVERIFY(DownscaleArea(src, all, 50, 41).IsEmpty());
    QVERIFY(DownscaleArea(src, all, 0, 10).IsEmpty());
    QVERIFY(DownscaleArea(src, all, 10, -1).IsEmpty());
    QVERIFY(DownscaleArea(TBitmap24(), all, 1, 1).IsEmpty());
    // Sides are judged against the region as cut to the bitmap.
    QVERIFY(DownscaleArea(src, TRect{40, 0, 60, 40}, 11, 10).IsEmpty());
    QCOMPARE(DownscaleArea(src, TRect{40, 0, 60, 40}, 10, 10).Width(), 10);
}

// A flat colour stays exactly that colour: the weights of each target pixel add up to
// exactly one, whatever the ratio.
void TCropTest::flatColourStaysExact_data() {
    QTest::addColumn<int>("bw");
    QTest::addColumn<int>("bh");
    QTest::addColumn<int>("nw");
    QTest::addColumn<int>("nh");
    QTest::newRow("photo") << 4032 << 3024 << 1568 << 1176;
    QTest::newRow("2:1") << 200 << 100 << 100 << 50;
    QTest::newRow("odd") << 1234 << 567 << 1011 << 97;
    QTest::newRow("large ratio") << 5000 << 20 << 3 << 1;
}

void TCropTest::flatColourStaysExact() {
    QFETCH(int, bw);
    QFETCH(int, bh);
    QFETCH(int, nw);
    QFETCH(int, nh);
    for (const TRgb c :
         {TRgb{255, 255, 255}, TRgb{0, 0, 0}, TRgb{1, 254, 128}, TRgb{37, 99, 201}}) {
        const TBitmap24 src = Flat(bw, bh, c);
        const TBitmap24 out = DownscaleArea(src, TRect{0, 0, bw, bh}, nw, nh);
        QVERIFY(SamePixels(out, Flat(nw, nh, c)));
    }
    // Through the JPEG, within its loss.
    const TRgb c{37, 99, 201};
    const TDecoded d = Decode(CropToJpeg(Flat(bw, bh, c), TRect{0, 0, bw, bh}));
    QVERIFY(d.Ok);
    QVERIFY(MaxDeviation(d, c) <= KJpegFlatTolerance);
}

// 2:1 exactly: each target pixel covers two white and two black pixels, 127.5, which
// rounds to 127 or 128. Nearest-neighbour sampling would give 0 or 255.
void TCropTest::checkerboardHalfIsGrey() {
    const TBitmap24 src = Checkerboard(3136, 200);
    const TBitmap24 out = DownscaleArea(src, TRect{0, 0, 3136, 200}, 1568, 100);
    for (int y = 0; y < out.Height(); ++y)
        for (int x = 0; x < out.Width() * 3; ++x) {
            const int v = out.Row(y)[x];
            if (v < 127 || v > 128)
                QFAIL(qPrintable(QStringLiteral("(%1, %2): %3").arg(x / 3).arg(y).arg(v)));
        }
    // The same through CropToJpeg (3136 is scaled to 1568 exactly), within the JPEG's loss.
    const TDecoded d = Decode(CropToJpeg(src, TRect{0, 0, 3136, 200}));
    QCOMPARE(d.Width, 1568);
    QVERIFY(MaxDeviation(d, TRgb{128, 128, 128}) <= KJpegFlatTolerance);
}

// 4032 -> 1568 (2.57 : 1): a target pixel covers whole and partial pixels, and the exact
// area mean of the checkerboard is 127.5 + 127.5 · ax · ay, where ax and ay are the
// coverage-weighed means of (-1)^x and (-1)^y over the pixel's columns and rows (at most
// 0.571 / 2.571 each, so within 127.5 ± 6.3). Every pixel must be that mean, rounded;
// nearest-neighbour gives 0 or 255 and bilinear sampling ranges far wider.
void TCropTest::checkerboardPhotoSizeIsGrey() {
    const int w = 4032, h = 3024;
    const TBitmap24 src = Checkerboard(w, h);
    const QSize size = UploadSize(w, h);
    QCOMPARE(size, QSize(1568, 1176));
    const TBitmap24 out = DownscaleArea(src, TRect{0, 0, w, h}, size.width(), size.height());
    std::vector<double> ax(static_cast<std::size_t>(size.width()));
    std::vector<double> ay(static_cast<std::size_t>(size.height()));
    for (int x = 0; x < size.width(); ++x)
        ax[std::size_t(x)] = AlternatingMean(x, w, size.width());
    for (int y = 0; y < size.height(); ++y)
        ay[std::size_t(y)] = AlternatingMean(y, h, size.height());
    double sum = 0;
    int lo = 255, hi = 0;
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            const double exact = 127.5 + 127.5 * ax[std::size_t(x)] * ay[std::size_t(y)];
            for (int c = 0; c < 3; ++c) {
                const int v = out.Row(y)[x * 3 + c];
                sum += v;
                lo = std::min(lo, v);
                hi = std::max(hi, v);
                if (std::abs(v - exact) >= 1.0)
                    QFAIL(qPrintable(
                        QStringLiteral("(%1, %2): %3, exact %4").arg(x).arg(y).arg(v).arg(exact)));
            }
        }
    QVERIFY2(lo >= 121 && hi <= 134, qPrintable(QStringLiteral("%1..%2").arg(lo).arg(hi)));
    const double mean = sum / (3.0 * size.width() * size.height());
    QVERIFY2(std::abs(mean - 127.5) < 1.0, qPrintable(QString::number(mean)));

    // The whole cut through CropToJpeg: still grey. The pattern of the means changes
    // from pixel to pixel, detail that the JPEG keeps only roughly (about ±6 levels more
    // here), so the band is wider; the mean stays.
    const TDecoded d = Decode(CropToJpeg(src, TRect{0, 0, w, h}));
    QCOMPARE(d.Width, 1568);
    QCOMPARE(d.Height, 1176);
    const auto [dlo, dhi] = std::minmax_element(d.Pixels.begin(), d.Pixels.end());
    QVERIFY2(*dlo >= 108 && *dhi <= 147, qPrintable(QStringLiteral("%1..%2").arg(*dlo).arg(*dhi)));
    double dsum = 0;
    for (uint8_t v : d.Pixels)
        dsum += v;
    QVERIFY2(std::abs(dsum / d.Pixels.size() - 127.5) < 1.0,
             qPrintable(QString::number(dsum / d.Pixels.size())));
}

// A region of one colour inside a picture of others gives that colour only, up to its
// edges: nothing from outside the region bleeds in, scaled or not.
void TCropTest::regionKeepsItsPixels_data() {
    QTest::addColumn<TRect>("region");
    // Quadrants of a 4000 x 3000 picture, unscaled.
    QTest::newRow("top left quadrant") << TRect{0, 0, 2000, 1500};
    QTest::newRow("top right quadrant") << TRect{2000, 0, 4000, 1500};
    QTest::newRow("bottom left quadrant") << TRect{0, 1500, 2000, 3000};
    QTest::newRow("bottom right quadrant") << TRect{2000, 1500, 4000, 3000};
    // Larger than the upload: downscaled.
    QTest::newRow("top half, scaled") << TRect{0, 0, 4000, 1500};
    QTest::newRow("right half, scaled") << TRect{2000, 0, 4000, 3000};
}

void TCropTest::regionKeepsItsPixels() {
    QFETCH(TRect, region);
    const TRgb colours[4] = {{200, 30, 40}, {20, 180, 60}, {30, 60, 220}, {240, 230, 20}};
    TBitmap24 bitmap(4000, 3000);
    FillRect(bitmap, {0, 0, 2000, 1500}, colours[0]);
    FillRect(bitmap, {2000, 0, 4000, 1500}, colours[1]);
    FillRect(bitmap, {0, 1500, 2000, 3000}, colours[2]);
    FillRect(bitmap, {2000, 1500, 4000, 3000}, colours[3]);
    const QSize size = UploadSize(region.Width(), region.Height());
    const TDecoded d = Decode(CropToJpeg(bitmap, region));
    QVERIFY(d.Ok);
    QCOMPARE(QSize(d.Width, d.Height), size);
    // Each part of the result has the colour of the quadrant it shows.
    for (int q = 0; q < 4; ++q) {
        const TRect quad{q % 2 * 2000, q / 2 * 1500, q % 2 * 2000 + 2000, q / 2 * 1500 + 1500};
        const TRect part{std::max(quad.Left, region.Left), std::max(quad.Top, region.Top),
                         std::min(quad.Right, region.Right), std::min(quad.Bottom, region.Bottom)};
        if (part.Width() <= 0 || part.Height() <= 0)
            continue;
        // Its place in the result, one pixel in from an inner boundary (where the
        // JPEG's 8 x 8 blocks and chroma subsampling mix the two colours).
        const double sx = double(size.width()) / region.Width();
        const double sy = double(size.height()) / region.Height();
        const int x0 = int((part.Left - region.Left) * sx),
                  x1 = int((part.Right - region.Left) * sx);
        const int y0 = int((part.Top - region.Top) * sy), y1 = int((part.Bottom - region.Top) * sy);
        const int margin = part == region ? 0 : 16;
        int worst = 0;
        for (int y = y0 + (y0 > 0 ? margin : 0); y < y1 - (y1 < d.Height ? margin : 0); ++y)
            for (int x = x0 + (x0 > 0 ? margin : 0); x < x1 - (x1 < d.Width ? margin : 0); ++x)
                for (int c = 0; c < 3; ++c) {
                    const uint8_t expected = c == 0   ? colours[q].R
                                             : c == 1 ? colours[q].G
                                                      : colours[q].B;
                    worst = std::max(worst, std::abs(d.At(x, y)[c] - expected));
                }
        QVERIFY2(worst <= KJpegFlatTolerance,
                 qPrintable(QStringLiteral("quadrant %1: off by %2").arg(q).arg(worst)));
    }
}

// A region of one colour in a frame of another: the result is that colour up to its
// very edges (with the frame's pixels read, the edge pixels would mix the two).
void TCropTest::nothingBleedsIn_data() {
    QTest::addColumn<int>("bw");
    QTest::addColumn<int>("bh");
    QTest::addColumn<TRect>("region");
    QTest::newRow("unscaled") << 1000 << 700 << TRect{100, 50, 900, 650};
    QTest::newRow("scaled") << 2200 << 1100 << TRect{100, 50, 2100, 1050};
    QTest::newRow("scaled, odd edges") << 2300 << 1300 << TRect{1, 3, 2299, 1297};
}

void TCropTest::nothingBleedsIn() {
    QFETCH(int, bw);
    QFETCH(int, bh);
    QFETCH(TRect, region);
    const TRgb inside{20, 180, 60}, frame{250, 0, 250};
    TBitmap24 bitmap = Flat(bw, bh, frame);
    FillRect(bitmap, region, inside);
    const TDecoded d = Decode(CropToJpeg(bitmap, region));
    QVERIFY(d.Ok);
    QCOMPARE(QSize(d.Width, d.Height), UploadSize(region.Width(), region.Height()));
    QVERIFY2(MaxDeviation(d, inside) <= KJpegFlatTolerance,
             qPrintable(QString::number(MaxDeviation(d, inside))));
    const QSize size = UploadSize(region.Width(), region.Height());
    QVERIFY(SamePixels(DownscaleArea(bitmap, region, size.width(), size.height()),
                       Flat(size.width(), size.height(), inside)));
}

QTEST_GUILESS_MAIN(TCropTest)
#include "tCrop.moc"

// DecodeImage and DecodeUpright on real files: JPEG (libjpeg and Qt encoded, colour,
// grey, CMYK), PNG, BMP and GIF written by the test, and broken data of every kind.

#include "imaging/uImageDecode.h"
#include "imaging/uOrientation.h"
#include "uJpegFixture.h"

#include <QBuffer>
#include <QImageReader>
#include <QTest>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <jpeglib.h>
#include <sys/resource.h>

Q_DECLARE_METATYPE(TJpegExif)

namespace {

QImage PatternImage(int AW, int AH) {
    QImage image(AW, AH, QImage::Format_RGB888);
    FillTestPattern(image.bits(), AW, AH, image.bytesPerLine());
    return image;
}

QByteArray Saved(const QImage& AImage, const char* AFormat) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    if (!AImage.save(&buffer, AFormat))
        qFatal("cannot write %s", AFormat);
    return buffer.data();
}

// Qt reads GIF but does not write it: a minimal GIF89a with a 4-colour palette. The LZW
// stream sends each pixel as a literal 3-bit code and a clear code every two pixels, so
// the code width never grows.
QByteArray GifOf(const QImage& AImage, const QList<QRgb>& APalette) {
    QByteArray g("GIF89a");
    auto u16 = [&g](int AV) {
        g.append(char(AV & 0xFF));
        g.append(char(AV >> 8));
    };
    u16(AImage.width());
    u16(AImage.height());
    g.append(char(0xF1)); // global palette of 4 entries
    g.append('\0');
    g.append('\0');
    for (QRgb c : APalette) {
        g.append(char(qRed(c)));
        g.append(char(qGreen(c)));
        g.append(char(qBlue(c)));
    }
    g.append(',');
    u16(0);
    u16(0);
    u16(AImage.width());
    u16(AImage.height());
    g.append('\0');
    g.append('\2'); // LZW minimum code size: clear = 4, end = 5

    QByteArray data;
    uint32_t acc = 0;
    int bits = 0;
    auto code = [&](int AC) {
        acc |= uint32_t(AC) << bits;
        bits += 3;
        while (bits >= 8) {
            data.append(char(acc & 0xFF));
            acc >>= 8;
            bits -= 8;
        }
    };
    int n = 0;
    for (int y = 0; y < AImage.height(); ++y) {
        for (int x = 0; x < AImage.width(); ++x) {
            if (n++ % 2 == 0)
                code(4);
            code(int(APalette.indexOf(AImage.pixel(x, y))));
        }
    }
    code(5);
    if (bits > 0)
        data.append(char(acc & 0xFF));
    for (qsizetype i = 0; i < data.size(); i += 255) {
        const QByteArray block = data.mid(i, 255);
        g.append(char(block.size()));
        g.append(block);
    }
    g.append('\0');
    g.append(';');
    return g;
}

QByteArray GifPattern() {
    const QList<QRgb> palette = {qRgb(40, 120, 140), qRgb(230, 20, 20), qRgb(0, 0, 0),
                                 qRgb(255, 255, 255)};
    QImage image(12, 8, QImage::Format_RGB32);
    image.fill(palette[0]);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            image.setPixel(x, y, palette[1]);
    image.setPixel(11, 7, palette[3]);
    return GifOf(image, palette);
}

// A CMYK JPEG as print workflows write them (Adobe marker), which libjpeg cannot turn
// into RGB by itself.
QByteArray CmykJpeg(int AW, int AH) {
    jpeg_compress_struct info;
    jpeg_error_mgr err;
    info.err = jpeg_std_error(&err);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = JDIMENSION(AW);
    info.image_height = JDIMENSION(AH);
    info.input_components = 4;
    info.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&info);
    jpeg_set_colorspace(&info, JCS_YCCK);
    jpeg_start_compress(&info, TRUE);
    QByteArray row(AW * 4, char(0x80));
    while (info.next_scanline < info.image_height) {
        JSAMPROW r = reinterpret_cast<JSAMPROW>(row.data());
        jpeg_write_scanlines(&info, &r, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    QByteArray bytes(reinterpret_cast<const char*>(out), qsizetype(size));
    std::free(out);
    return bytes;
}

TJpegExif Exif(int AOrientation, bool ABig = false) {
    TJpegExif e;
    e.Orientation = AOrientation;
    e.BigEndian = ABig;
    return e;
}

const uint8_t* Pixel(const TBitmap24& AB, int AX, int AY) {
    return AB.Row(AY) + AX * 3;
}

// Which corner holds the marker block: "TL", "TR", "BL", "BR", or "" when not exactly one.
QString MarkerCorner(const TBitmap24& AB) {
    const int r = AB.Width() - 1, b = AB.Height() - 1;
    const bool tl = IsMarkerPixel(Pixel(AB, 0, 0)), tr = IsMarkerPixel(Pixel(AB, r, 0));
    const bool bl = IsMarkerPixel(Pixel(AB, 0, b)), br = IsMarkerPixel(Pixel(AB, r, b));
    if (tl + tr + bl + br != 1)
        return {};
    return tl ? "TL" : tr ? "TR" : bl ? "BL" : "BR";
}

bool SamePixels(const TBitmap24& AA, const TBitmap24& AB) {
    if (AA.Width() != AB.Width() || AA.Height() != AB.Height())
        return false;
    for (int y = 0; y < AA.Height(); ++y)
        if (std::memcmp(AA.Row(y), AB.Row(y), std::size_t(AA.Width()) * 3) != 0)
            return false;
    return true;
}

} // namespace

class TImageDecodeTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void formats_data();
    void formats();
    void greyAndCmykJpeg();
    void broken_data();
    void broken();
    void everyCutLength();
    void missingEndMarkerStillShows();
    void forgedHugeSize_data();
    void forgedHugeSize();
    void upright_data();
    void upright();
    void imageWrapping();
};

void TImageDecodeTest::formats_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("lossless");
    const QImage pattern = PatternImage(40, 30);
    QTest::newRow("PNG") << Saved(pattern, "PNG") << pattern.size() << true;
    QTest::newRow("PNG with alpha")
        << Saved(pattern.convertToFormat(QImage::Format_ARGB32), "PNG") << pattern.size() << true;
    QTest::newRow("BMP") << Saved(pattern, "BMP") << pattern.size() << true;
    QTest::newRow("JPEG by Qt") << Saved(pattern, "JPEG") << pattern.size() << false;
    QTest::newRow("JPEG by libjpeg") << MakeJpeg(40, 30, Exif(1)) << QSize(40, 30) << false;
    // The tag does not matter here: DecodeImage gives the picture as stored.
    QTest::newRow("JPEG tagged 6") << MakeJpeg(40, 30, Exif(6)) << QSize(40, 30) << false;
    QTest::newRow("GIF") << GifPattern() << QSize(12, 8) << true;
}

void TImageDecodeTest::formats() {
    QFETCH(QByteArray, bytes);
    QFETCH(QSize, size);
    QFETCH(bool, lossless);
    QString error;
    const std::optional<TBitmap24> bitmap = DecodeImage(bytes, &error);
    QVERIFY2(bitmap.has_value(), qPrintable(error));
    QCOMPARE(QSize(bitmap->Width(), bitmap->Height()), size);
    QCOMPARE(MarkerCorner(*bitmap), QStringLiteral("TL"));
    if (lossless && size == QSize(40, 30))
        QVERIFY(SamePixels(*bitmap, ImageToBitmap(PatternImage(40, 30))));
}

void TImageDecodeTest::greyAndCmykJpeg() {
    const QByteArray grey =
        Saved(PatternImage(20, 10).convertToFormat(QImage::Format_Grayscale8), "JPEG");
    QString error;
    std::optional<TBitmap24> bitmap = DecodeImage(grey, &error);
    QVERIFY2(bitmap.has_value(), qPrintable(error));
    QCOMPARE(bitmap->Width(), 20);
    const uint8_t* p = Pixel(*bitmap, 15, 8);
    QVERIFY(p[0] == p[1] && p[1] == p[2]);

    bitmap = DecodeImage(CmykJpeg(24, 16), &error);
    QVERIFY2(bitmap.has_value(), qPrintable(error));
    QCOMPARE(QSize(bitmap->Width(), bitmap->Height()), QSize(24, 16));
}

void TImageDecodeTest::broken_data() {
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray jpeg = MakeJpeg(64, 48, Exif(6));
    const QByteArray png = Saved(PatternImage(64, 48), "PNG");
    const qsizetype sos = jpeg.indexOf("\xFF\xDA");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("text") << QByteArray("this is not a picture");
    QTest::newRow("zero bytes") << QByteArray(1000, '\0');
    QTest::newRow("JPEG signature only") << QByteArray("\xFF\xD8\xFF", 3);
    QTest::newRow("JPEG signature and garbage")
        << QByteArray("\xFF\xD8\xFF") + QByteArray(500, 'x');
    QTest::newRow("JPEG cut in the header") << jpeg.left(sos - 20);
    QTest::newRow("JPEG cut after start of scan") << jpeg.left(sos + 20);
    QTest::newRow("JPEG cut halfway") << jpeg.left(jpeg.size() / 2);
    QTest::newRow("PNG cut halfway") << png.left(png.size() / 2);
    QTest::newRow("PNG signature only") << png.left(8);
    QTest::newRow("BMP header only") << Saved(PatternImage(64, 48), "BMP").left(54);
    QTest::newRow("GIF header only") << GifPattern().left(13);
}

void TImageDecodeTest::broken() {
    QFETCH(QByteArray, bytes);
    for (auto decode : {DecodeImage, DecodeUpright}) {
        QString error;
        QVERIFY(!decode(bytes, &error).has_value());
        QVERIFY(!error.isEmpty());
        QVERIFY(!decode(bytes, nullptr).has_value());
    }
}

// Every prefix of a tagged JPEG through both paths (straight rows and turned bands):
// a bitmap of the right size or an error with a message, nothing else (the asan preset
// checks the memory side). Only cuts in the last few bytes leave a whole picture.
void TImageDecodeTest::everyCutLength() {
    const QByteArray file = MakeJpeg(40, 24, Exif(6));
    qsizetype shortestWhole = -1;
    for (qsizetype n = 0; n <= file.size(); ++n) {
        const QByteArray cut(file.constData(), n);
        QString error;
        const std::optional<TBitmap24> asStored = DecodeImage(cut, &error);
        QVERIFY(asStored ? asStored->Width() == 40 && asStored->Height() == 24 : !error.isEmpty());
        const std::optional<TBitmap24> upright = DecodeUpright(cut, &error);
        QCOMPARE(upright.has_value(), asStored.has_value());
        if (upright) {
            QCOMPARE(upright->Width(), 24);
            if (shortestWhole < 0)
                shortestWhole = n;
        } else {
            QVERIFY2(shortestWhole < 0, qPrintable(QStringLiteral("length %1").arg(n)));
        }
    }
    QVERIFY(shortestWhole >= file.size() - 4);
}

void TImageDecodeTest::missingEndMarkerStillShows() {
    const QByteArray file = MakeJpeg(40, 24);
    QVERIFY(file.endsWith("\xFF\xD9"));
    QVERIFY(DecodeImage(file.left(file.size() - 2)).has_value());
}

// A header claiming a huge size is refused before anything is allocated for it. A
// progressive picture's coefficients would be allocated and zeroed when decompression
// starts (816 MB for 20000 x 20000), so the peak memory of the process shows a late check.
void TImageDecodeTest::forgedHugeSize_data() {
    QTest::addColumn<char>("frameMarker");
    QTest::addColumn<int>("side");
    QTest::newRow("baseline 60000 x 60000") << char(0xC0) << 60000;
    QTest::newRow("baseline 20000 x 20000") << char(0xC0) << 20000;
    QTest::newRow("progressive 20000 x 20000") << char(0xC2) << 20000;
}

void TImageDecodeTest::forgedHugeSize() {
    QFETCH(char, frameMarker);
    QFETCH(int, side);
    QByteArray file = MakeJpeg(16, 16);
    const qsizetype sof = file.indexOf("\xFF\xC0");
    QVERIFY(sof > 0);
    file[sof + 1] = frameMarker;
    for (int i : {5, 7})
        file[sof + i] = char(side >> 8);
    for (int i : {6, 8})
        file[sof + i] = char(side & 0xFF);
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    for (auto decode : {DecodeImage, DecodeUpright}) {
        QString error;
        QVERIFY(!decode(file, &error).has_value());
        QCOMPARE(error, QStringLiteral("画像が大きすぎます: %1 x %1").arg(side));
    }
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    QVERIFY2(
        after.ru_maxrss - before.ru_maxrss < 64 * 1024,
        qPrintable(QStringLiteral("peak grew by %1 KB").arg(after.ru_maxrss - before.ru_maxrss)));
}

void TImageDecodeTest::upright_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QString>("corner");
    for (bool big : {false, true}) {
        for (QSize stored : {QSize(64, 48), QSize(67, 45)}) {
            const QSize turned = stored.transposed();
            const struct {
                int Tag;
                QSize Size;
                const char* Corner;
            } cases[] = {{0, stored, "TL"}, {1, stored, "TL"}, {2, stored, "TR"}, {3, stored, "BR"},
                         {4, stored, "BL"}, {5, turned, "TL"}, {6, turned, "TR"}, {7, turned, "BR"},
                         {8, turned, "BL"}, {9, stored, "TL"}};
            for (const auto& c : cases)
                QTest::addRow("%s %dx%d tag %d", big ? "MM" : "II", stored.width(), stored.height(),
                              c.Tag)
                    << MakeJpeg(stored.width(), stored.height(), Exif(c.Tag, big)) << c.Size
                    << QString(c.Corner);
        }
    }
    // Taller than one decoded band: the turn goes band by band.
    QTest::newRow("tall tag 6") << MakeJpeg(24, 1100, Exif(6)) << QSize(1100, 24) << "TR";
    QTest::newRow("tall tag 8") << MakeJpeg(24, 1100, Exif(8)) << QSize(1100, 24) << "BL";
    QTest::newRow("tall tag 3") << MakeJpeg(24, 1100, Exif(3)) << QSize(24, 1100) << "BR";
    QTest::newRow("tall tag 5") << MakeJpeg(24, 1100, Exif(5)) << QSize(1100, 24) << "TL";
    QTest::newRow("tall tag 7") << MakeJpeg(24, 1100, Exif(7)) << QSize(1100, 24) << "BR";
    QTest::newRow("PNG") << Saved(PatternImage(30, 20), "PNG") << QSize(30, 20) << "TL";
    QTest::newRow("XMP before Exif 6")
        << InsertAfterSoi(MakeJpeg(30, 20, Exif(6)), XmpSegment()) << QSize(30, 20) << "TL";
}

void TImageDecodeTest::upright() {
    QFETCH(QByteArray, bytes);
    QFETCH(QSize, size);
    QFETCH(QString, corner);
    QString error;
    const std::optional<TBitmap24> shown = DecodeUpright(bytes, &error);
    QVERIFY2(shown.has_value(), qPrintable(error));
    QCOMPARE(QSize(shown->Width(), shown->Height()), size);
    QCOMPARE(MarkerCorner(*shown), corner);
    // Turning while decoding gives exactly what decoding and then turning gives.
    const std::optional<TBitmap24> stored = DecodeImage(bytes);
    QVERIFY(stored.has_value());
    QVERIFY(SamePixels(*shown, ApplyOrientation(*stored, ReadJpegOrientation(bytes))));
}

void TImageDecodeTest::imageWrapping() {
    const std::optional<TBitmap24> bitmap = DecodeImage(MakeJpeg(37, 21));
    QVERIFY(bitmap.has_value());
    const QImage image = BitmapToImage(*bitmap);
    QCOMPARE(image.format(), QImage::Format_RGB888);
    QCOMPARE(image.size(), QSize(37, 21));
    QCOMPARE(image.constBits(), bitmap->Bits()); // no copy
    const uint8_t* p = Pixel(*bitmap, 36, 20);
    QCOMPARE(image.pixel(36, 20), qRgb(p[0], p[1], p[2]));
    QVERIFY(SamePixels(ImageToBitmap(image), *bitmap));
    QVERIFY(BitmapToImage(TBitmap24()).isNull());
    QVERIFY(ImageToBitmap(QImage()).IsEmpty());
}

QTEST_MAIN(TImageDecodeTest)
#include "tImageDecode.moc"

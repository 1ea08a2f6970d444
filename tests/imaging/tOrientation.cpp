// ReadJpegOrientation over real JPEG files and over hand-made byte sequences that probe
// each rule of the marker walk and the directory read.

#include "imaging/uOrientation.h"
#include "uJpegFixture.h"

#include <QBuffer>
#include <QImage>
#include <QTest>

namespace {

QByteArray Bytes(std::initializer_list<int> AValues) {
    QByteArray b;
    for (int v : AValues)
        b.append(static_cast<char>(v));
    return b;
}

const QByteArray KSoi = Bytes({0xFF, 0xD8});
const QByteArray KEoi = Bytes({0xFF, 0xD9});

QByteArray Exif6() {
    TJpegExif e;
    e.Orientation = 6;
    return ExifSegment(e);
}

// An APP1 segment "Exif\0\0" + ATiff.
QByteArray ExifApp1(const QByteArray& ATiff) {
    const int len = static_cast<int>(ATiff.size()) + 8;
    return Bytes({0xFF, 0xE1, len >> 8, len & 0xFF}) + QByteArray("Exif\0\0", 6) + ATiff;
}

// Little-endian TIFF block with ACount entries, each tag 0x0112 only where AOrientationAt says.
QByteArray LittleTiff(uint32_t AIfdOffset, int ACount, int AOrientationAt, int AType = 3,
                      int AValue = 6) {
    QByteArray t = QByteArray("II") + Bytes({42, 0});
    t += Bytes({int(AIfdOffset & 0xFF), int(AIfdOffset >> 8 & 0xFF), int(AIfdOffset >> 16 & 0xFF),
                int(AIfdOffset >> 24)});
    while (t.size() < static_cast<qsizetype>(std::min<uint32_t>(AIfdOffset, 64)))
        t.append('\0');
    t += Bytes({ACount & 0xFF, ACount >> 8});
    for (int e = 0; e < ACount; ++e) {
        if (e == AOrientationAt)
            t += Bytes({0x12, 0x01, AType, 0, 1, 0, 0, 0, AValue, 0, 0, 0});
        else
            t += Bytes({0x0F, 0x01, 2, 0, 4, 0, 0, 0, 'a', 'b', 'c', 0});
    }
    return t + Bytes({0, 0, 0, 0});
}

QByteArray EncodedByQt(const char* AFormat) {
    QImage image(8, 8, QImage::Format_RGB888);
    image.fill(Qt::darkCyan);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, AFormat);
    return buffer.data();
}

} // namespace

class TOrientationTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void tagValue_data();
    void tagValue();
    void firstApp1Decides_data();
    void firstApp1Decides();
    void cutInsideDirectory_data();
    void cutInsideDirectory();
    void everyCutLength_data();
    void everyCutLength();
    void notAJpeg_data();
    void notAJpeg();
    void markerWalk_data();
    void markerWalk();
    void directoryRead_data();
    void directoryRead();
    void everyOrientationMapsPixels_data();
    void everyOrientationMapsPixels();
};

void TOrientationTest::tagValue_data() {
    QTest::addColumn<int>("tag");
    QTest::addColumn<bool>("bigEndian");
    QTest::addColumn<int>("expected");
    const int tags[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0xFFFF};
    for (bool big : {false, true}) {
        for (int tag : tags) {
            const int expected = tag >= 1 && tag <= 8 ? tag : 1;
            QTest::addRow("%s %d", big ? "MM" : "II", tag) << tag << big << expected;
        }
    }
}

void TOrientationTest::tagValue() {
    QFETCH(int, tag);
    QFETCH(bool, bigEndian);
    QFETCH(int, expected);
    TJpegExif exif;
    exif.Orientation = tag;
    exif.BigEndian = bigEndian;
    QCOMPARE(ReadJpegOrientation(MakeJpeg(16, 8, exif)), expected);
}

void TOrientationTest::firstApp1Decides_data() {
    QTest::addColumn<QByteArray>("segments");
    QTest::addColumn<int>("expected");
    QTest::newRow("Exif alone") << Exif6() << 6;
    QTest::newRow("XMP before Exif") << XmpSegment() + Exif6() << 1;
    QTest::newRow("Exif before XMP") << Exif6() + XmpSegment() << 6;
    QTest::newRow("APP0 and APP2 before Exif")
        << Bytes({0xFF, 0xE0, 0, 4, 1, 2}) + Bytes({0xFF, 0xE2, 0, 2}) + Exif6() << 6;
    // "Exif" without its two zero bytes is not the Exif identifier.
    QTest::newRow("identifier without zeros")
        << Bytes({0xFF, 0xE1, 0, 8}) + QByteArray("ExifII") + Exif6() << 1;
    QTest::newRow("empty APP1 before Exif") << Bytes({0xFF, 0xE1, 0, 2}) + Exif6() << 1;
}

void TOrientationTest::firstApp1Decides() {
    QFETCH(QByteArray, segments);
    QFETCH(int, expected);
    TJpegExif plain;
    plain.WithExif = false;
    QCOMPARE(ReadJpegOrientation(InsertAfterSoi(MakeJpeg(16, 8, plain), segments)), expected);
}

void TOrientationTest::cutInsideDirectory_data() {
    QTest::addColumn<int>("cut");
    QTest::addColumn<bool>("bigEndian");
    QTest::addColumn<int>("expected");
    // Byte 0 of the directory is its entry count; the orientation entry is bytes 14..25.
    const struct {
        const char* Name;
        int Cut;
        int Expected;
    } cuts[] = {
        {"at the directory", 0, 1},       {"inside the count", 1, 1},
        {"after the count", 2, 1},        {"inside the first entry", 8, 1},
        {"after the first entry", 14, 1}, {"inside the orientation tag", 15, 1},
        {"before the value", 22, 1},      {"one byte short of the entry", 25, 1},
        {"right after the entry", 26, 6}, {"inside the last entry", 30, 6},
    };
    for (bool big : {false, true})
        for (const auto& c : cuts)
            QTest::addRow("%s %s", big ? "MM" : "II", c.Name) << c.Cut << big << c.Expected;
}

void TOrientationTest::cutInsideDirectory() {
    QFETCH(int, cut);
    QFETCH(bool, bigEndian);
    QFETCH(int, expected);
    TJpegExif exif;
    exif.Orientation = 6;
    exif.BigEndian = bigEndian;
    exif.CutIfdAt = cut;
    const QByteArray file = MakeJpeg(16, 8, exif);
    QCOMPARE(file.size(), ExifLayoutOf(exif).IfdStart + cut);
    QCOMPARE(ReadJpegOrientation(file), expected);
}

void TOrientationTest::everyCutLength_data() {
    QTest::addColumn<bool>("bigEndian");
    QTest::addColumn<bool>("xmpFirst");
    QTest::newRow("II") << false << false;
    QTest::newRow("MM") << true << false;
    QTest::newRow("XMP first") << false << true;
}

// Every prefix of a real file: nothing read outside the array (the asan preset checks),
// and the tag is found exactly when its whole entry is present.
void TOrientationTest::everyCutLength() {
    QFETCH(bool, bigEndian);
    QFETCH(bool, xmpFirst);
    TJpegExif exif;
    exif.Orientation = 8;
    exif.BigEndian = bigEndian;
    exif.XmpFirst = xmpFirst;
    const QByteArray file = MakeJpeg(24, 16, exif);
    const qsizetype entryEnd = ExifLayoutOf(exif).OrientationEntryEnd();
    for (qsizetype n = 0; n <= file.size(); ++n) {
        // A copy of exactly n bytes, so a read past the end is a read past the allocation.
        const QByteArray cut(file.constData(), n);
        const int expected = !xmpFirst && n >= entryEnd ? 8 : 1;
        if (ReadJpegOrientation(cut) != expected)
            QFAIL(qPrintable(QStringLiteral("length %1: %2, expected %3")
                                 .arg(n)
                                 .arg(ReadJpegOrientation(cut))
                                 .arg(expected)));
    }
}

void TOrientationTest::notAJpeg_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("SOI only") << KSoi;
    QTest::newRow("three bytes") << Bytes({0xFF, 0xD8, 0xFF});
    QTest::newRow("PNG") << EncodedByQt("PNG");
    QTest::newRow("BMP") << EncodedByQt("BMP");
    QTest::newRow("text") << QByteArray("Exif II*\0 orientation 6");
    QTest::newRow("Exif without SOI") << Bytes({0xFF, 0xD9}) + Exif6();
    QTest::newRow("SOI late") << Bytes({0x00}) + KSoi + Exif6();
}

void TOrientationTest::notAJpeg() {
    QFETCH(QByteArray, bytes);
    QCOMPARE(ReadJpegOrientation(bytes), 1);
}

void TOrientationTest::markerWalk_data() {
    QTest::addColumn<QByteArray>("afterSoi");
    QTest::addColumn<int>("expected");
    QTest::newRow("fill bytes") << Bytes({0xFF, 0xFF, 0xFF}) + Exif6() << 6;
    QTest::newRow("garbage before the marker") << Bytes({0x00, 0x12, 0xD8, 0xE1}) + Exif6() << 6;
    QTest::newRow("markers without length")
        << Bytes({0xFF, 0x01, 0xFF, 0xD0, 0xFF, 0xD7}) + Exif6() << 6;
    QTest::newRow("start of scan first") << Bytes({0xFF, 0xDA, 0x00, 0x02}) + Exif6() << 1;
    QTest::newRow("end of image first") << KEoi + Exif6() << 1;
    QTest::newRow("length below 2") << Bytes({0xFF, 0xE0, 0x00, 0x01}) + Exif6() << 1;
    QTest::newRow("length 0") << Bytes({0xFF, 0xE0, 0x00, 0x00}) + Exif6() << 1;
    // A length that skips into the Exif segment's middle: the walk resumes there.
    QTest::newRow("length into the next segment")
        << Bytes({0xFF, 0xE0, 0x00, 0x04, 0x00}) + Exif6() << 1;
    QTest::newRow("length past the end") << Bytes({0xFF, 0xE0, 0xFF, 0xFF}) + Exif6() << 1;
    QTest::newRow("fill bytes to the end") << Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}) << 1;
    QTest::newRow("only garbage") << Bytes({0x01, 0x02, 0x03, 0x04, 0x05, 0x06}) << 1;
    // The walk needs more than 4 bytes after the marker's start: FF E1 + length + 1.
    QTest::newRow("APP1 header at the very end") << Bytes({0xFF, 0xE1, 0x00, 0x10}) << 1;
}

void TOrientationTest::markerWalk() {
    QFETCH(QByteArray, afterSoi);
    QFETCH(int, expected);
    QCOMPARE(ReadJpegOrientation(KSoi + afterSoi + KEoi), expected);
    QCOMPARE(ReadJpegOrientation(KSoi + afterSoi), expected);
}

void TOrientationTest::directoryRead_data() {
    QTest::addColumn<QByteArray>("tiff");
    QTest::addColumn<int>("expected");
    QTest::newRow("tag first of one") << LittleTiff(8, 1, 0) << 6;
    QTest::newRow("tag last of five") << LittleTiff(8, 5, 4) << 6;
    QTest::newRow("no orientation entry") << LittleTiff(8, 3, -1) << 1;
    QTest::newRow("zero entries") << LittleTiff(8, 0, -1) << 1;
    QTest::newRow("directory further on") << LittleTiff(40, 2, 1) << 6;
    // Type and count are not looked at: a LONG 6 in a little-endian file still reads 6.
    QTest::newRow("type LONG") << LittleTiff(8, 1, 0, 4, 6) << 6;
    QTest::newRow("type ASCII") << LittleTiff(8, 1, 0, 2, 3) << 3;
    QTest::newRow("offset past the end") << LittleTiff(0x7FFFFFF0, 1, 0) << 1;
    QTest::newRow("offset near 2^32") << LittleTiff(0xFFFFFFF8, 1, 0) << 1;
    // Offset 0 puts the directory on "II": 0x4949 entries, far more than the file holds.
    QTest::newRow("offset 0") << LittleTiff(0, 1, 0) << 1;
    QTest::newRow("count beyond the data")
        << LittleTiff(8, 1, 0).left(10) + Bytes({0xFF, 0x7F}) << 1;
    QByteArray wrongOrder = LittleTiff(8, 1, 0);
    wrongOrder[1] = 'M';
    QTest::newRow("byte order IM") << wrongOrder << 1;
    QTest::newRow("header cut short") << QByteArray("II*\0\x08\0", 6) << 1;
}

void TOrientationTest::directoryRead() {
    QFETCH(QByteArray, tiff);
    QFETCH(int, expected);
    QCOMPARE(ReadJpegOrientation(KSoi + ExifApp1(tiff) + KEoi), expected);
}

// Where each stored pixel of a 3 x 2 picture lands for the eight values of the Exif
// standard, written out from the standard's own table, so that the turns and mirrors
// cannot share a misreading with it.
void TOrientationTest::everyOrientationMapsPixels_data() {
    QTest::addColumn<int>("orientation");
    // The upright picture row by row; each stored pixel is named by its column and row
    // ("10" is column 1 of row 0).
    QTest::addColumn<QStringList>("upright");
    QTest::newRow("1 as stored") << 1 << QStringList{"00 10 20", "01 11 21"};
    QTest::newRow("2 mirrored left to right") << 2 << QStringList{"20 10 00", "21 11 01"};
    QTest::newRow("3 half a turn") << 3 << QStringList{"21 11 01", "20 10 00"};
    QTest::newRow("4 mirrored top to bottom") << 4 << QStringList{"01 11 21", "00 10 20"};
    QTest::newRow("5 across the main diagonal") << 5 << QStringList{"00 01", "10 11", "20 21"};
    QTest::newRow("6 a quarter turn clockwise") << 6 << QStringList{"01 00", "11 10", "21 20"};
    QTest::newRow("7 across the other diagonal") << 7 << QStringList{"21 20", "11 10", "01 00"};
    QTest::newRow("8 a quarter turn counter-clockwise")
        << 8 << QStringList{"20 21", "10 11", "00 01"};
    QTest::newRow("0 is no orientation") << 0 << QStringList{"00 10 20", "01 11 21"};
}

void TOrientationTest::everyOrientationMapsPixels() {
    QFETCH(int, orientation);
    QFETCH(QStringList, upright);
    TBitmap24 stored(3, 2);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            uint8_t* p = stored.Row(y) + x * 3;
            p[0] = uint8_t(x);
            p[1] = uint8_t(y);
            p[2] = 0xA5;
        }
    }
    const auto rows = [](const TBitmap24& AB) {
        QStringList out;
        for (int y = 0; y < AB.Height(); ++y) {
            QStringList cells;
            for (int x = 0; x < AB.Width(); ++x) {
                const uint8_t* p = AB.Row(y) + x * 3;
                cells << QStringLiteral("%1%2").arg(p[0]).arg(p[1]);
            }
            out << cells.join(u' ');
        }
        return out;
    };
    QCOMPARE(rows(ApplyOrientation(stored, orientation)), upright);
    QCOMPARE(rows(ApplyOrientation(stored.Clone(), orientation)), upright);
}

QTEST_GUILESS_MAIN(TOrientationTest)
#include "tOrientation.moc"

// Quarter and half turns, checked pixel for pixel against a plain per-pixel walk of the
// mapping, on sizes that leave partial 4 x 4 blocks, strips and bands at every edge.

#include "imaging/uOrientation.h"
#include "imaging/uRotate.h"
#include "imaging/uRotateRows.h"

#include <QTest>

#include <cstring>
#include <vector>

namespace {

enum class TTurn { Cw, Ccw, Half };

// Every pixel different from its neighbours and from the pixels a wrong mapping would
// bring (x and y up to 4095 fit the three bytes).
TBitmap24 NumberedBitmap(int AW, int AH) {
    TBitmap24 b(AW, AH);
    for (int y = 0; y < AH; ++y) {
        uint8_t* row = b.Row(y);
        for (int x = 0; x < AW; ++x) {
            row[x * 3 + 0] = static_cast<uint8_t>(x);
            row[x * 3 + 1] = static_cast<uint8_t>(y);
            row[x * 3 + 2] = static_cast<uint8_t>((x >> 8) | (y >> 8) << 4);
        }
    }
    return b;
}

// The mapping as written: (x, y) goes to (H-1-y, x), (y, W-1-x) or (W-1-x, H-1-y).
TBitmap24 Reference(const TBitmap24& ASrc, TTurn ATurn) {
    const int w = ASrc.Width(), h = ASrc.Height();
    TBitmap24 out = ATurn == TTurn::Half ? TBitmap24(w, h) : TBitmap24(h, w);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            int dx = 0, dy = 0;
            switch (ATurn) {
            case TTurn::Cw:
                dx = h - 1 - y;
                dy = x;
                break;
            case TTurn::Ccw:
                dx = y;
                dy = w - 1 - x;
                break;
            case TTurn::Half:
                dx = w - 1 - x;
                dy = h - 1 - y;
                break;
            }
            std::memcpy(out.Row(dy) + dx * 3, ASrc.Row(y) + x * 3, 3);
        }
    }
    return out;
}

// Pixel bytes equal (row padding is not part of the picture). Names the first difference.
bool SamePixels(const TBitmap24& AA, const TBitmap24& AB, QString* AWhy = nullptr) {
    if (AA.Width() != AB.Width() || AA.Height() != AB.Height()) {
        if (AWhy)
            *AWhy = QStringLiteral("size %1x%2 vs %3x%4")
                        .arg(AA.Width())
                        .arg(AA.Height())
                        .arg(AB.Width())
                        .arg(AB.Height());
        return false;
    }
    for (int y = 0; y < AA.Height(); ++y) {
        if (std::memcmp(AA.Row(y), AB.Row(y), static_cast<std::size_t>(AA.Width()) * 3) != 0) {
            int x = 0;
            while (std::memcmp(AA.Row(y) + x * 3, AB.Row(y) + x * 3, 3) == 0)
                ++x;
            if (AWhy)
                *AWhy = QStringLiteral("first difference at (%1, %2)").arg(x).arg(y);
            return false;
        }
    }
    return true;
}

#define COMPARE_PIXELS(actual, expected)                                                           \
    do {                                                                                           \
        QString why;                                                                               \
        if (!SamePixels(actual, expected, &why))                                                   \
            QFAIL(qPrintable(why));                                                                \
    } while (false)

// RotateRows90 into a buffer with guard bytes after each row's pixels and after the
// last row, fed ABandRows source rows at a time as the decoder does.
struct TGuardedTurn {
    int Width = 0, Height = 0; // of the result
    std::ptrdiff_t Stride = 0;
    std::vector<uint8_t> Buffer;
    static constexpr uint8_t KGuard = 0xA5;
    static constexpr int KTail = 64;

    TGuardedTurn(const TBitmap24& ASrc, bool ACw, int ABandRows, TPixelPath APath)
        : Width(ASrc.Height()), Height(ASrc.Width()),
          Stride(static_cast<std::ptrdiff_t>(ASrc.Height()) * 3 + 5),
          Buffer(static_cast<std::size_t>(Stride) * Height + KTail, KGuard) {
        for (int y0 = 0; y0 < ASrc.Height(); y0 += ABandRows) {
            const int rows = std::min(ABandRows, ASrc.Height() - y0);
            RotateRows90(ASrc.Row(y0), ASrc.Stride(), ASrc.Width(), ASrc.Height(), y0, rows,
                         Buffer.data(), Stride, ACw, APath);
        }
    }
    bool GuardsIntact() const {
        for (int y = 0; y < Height; ++y)
            for (std::ptrdiff_t i = Width * 3; i < Stride; ++i)
                if (Buffer[static_cast<std::size_t>(y * Stride + i)] != KGuard)
                    return false;
        for (std::size_t i = Buffer.size() - KTail; i < Buffer.size(); ++i)
            if (Buffer[i] != KGuard)
                return false;
        return true;
    }
    TBitmap24 Pixels() const {
        TBitmap24 b(Width, Height);
        for (int y = 0; y < Height; ++y)
            std::memcpy(b.Row(y), Buffer.data() + y * Stride, static_cast<std::size_t>(Width) * 3);
        return b;
    }
};

void AddSizes() {
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("h");
    const struct {
        int W, H;
    } sizes[] =
        {
            {1, 1},     {1, 37},  {37, 1},   {2, 2},    {3, 5},   {5, 3},
            {4, 4},     {6, 4},   {7, 9},    {16, 16},  {17, 16}, {37, 53},
            {53, 37},   {64, 48}, {100, 33}, {33, 100}, // several 16-column strips, ragged last one
            {19, 2100},                                 // bands of 1024 rows and a short last band
            {2100, 19},
        };
    for (const auto& s : sizes)
        QTest::addRow("%dx%d", s.W, s.H) << s.W << s.H;
}

} // namespace

class TRotateTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void bitmapBasics();
    void spareMemoryIsNeverShared();
    void exactMapping();
    void matchesReference_data() { AddSizes(); }
    void matchesReference();
    void rowBandsAndPaths_data();
    void rowBandsAndPaths();
    void turnsCompose_data() { AddSizes(); }
    void turnsCompose();
    void halfTurnInPlace_data() { AddSizes(); }
    void halfTurnInPlace();
    void applyOrientation_data();
    void applyOrientation();
};

void TRotateTest::bitmapBasics() {
    for (int w : {1, 2, 3, 4, 5, 37, 4000}) {
        const TBitmap24 b(w, 2);
        QCOMPARE(b.Stride() % 4, 0);
        QVERIFY(b.Stride() >= w * 3);
        QCOMPARE(b.Row(1) - b.Row(0), b.Stride());
    }
    QVERIFY(TBitmap24().IsEmpty());
    QVERIFY(TBitmap24(0, 5).IsEmpty());
    QVERIFY(TBitmap24(5, -1).IsEmpty());
    QVERIFY(RotateBitmap90(TBitmap24(), true).IsEmpty());
    QVERIFY(RotateBitmap180(TBitmap24()).IsEmpty());

    TBitmap24 a = NumberedBitmap(5, 3);
    const TBitmap24 copy = a.Clone();
    QVERIFY(copy.Bits() != a.Bits());
    COMPARE_PIXELS(copy, a);
    const uint8_t* pixels = a.Bits();
    TBitmap24 moved = std::move(a);
    QCOMPARE(moved.Bits(), pixels);
    QVERIFY(a.IsEmpty());
}

// A freed photo-sized bitmap's memory goes to the next bitmap of its size, and to one
// bitmap only.
void TRotateTest::spareMemoryIsNeverShared() {
    const uint8_t* freed = nullptr;
    {
        TBitmap24 photo(2000, 1500);
        std::memset(photo.Bits(), 1, photo.ByteCount());
        freed = photo.Bits();
    }
    TBitmap24 a(1500, 2000); // the same bytes, turned
    TBitmap24 b(1500, 2000);
    QCOMPARE(a.Bits(), freed);
    QVERIFY(b.Bits() != a.Bits());
    std::memset(a.Bits(), 2, a.ByteCount());
    std::memset(b.Bits(), 3, b.ByteCount());
    QCOMPARE(a.Bits()[a.ByteCount() - 1], uint8_t(2));

    TBitmap24 moved = std::move(a); // moving does not free
    TBitmap24 c(1500, 2000);
    QVERIFY(c.Bits() != moved.Bits());
    TBitmap24::DropSpareMemory();
}

// The mapping itself, written out by hand on a 3 x 2 picture, so the reference above
// cannot share a misreading with the code.
void TRotateTest::exactMapping() {
    // a b c
    // d e f
    TBitmap24 src(3, 2);
    const char* letters = "abcdef";
    for (int i = 0; i < 6; ++i)
        std::memset(src.Row(i / 3) + (i % 3) * 3, letters[i], 3);
    auto text = [](const TBitmap24& AB) {
        QString s;
        for (int y = 0; y < AB.Height(); ++y) {
            if (y)
                s += '/';
            for (int x = 0; x < AB.Width(); ++x)
                s += QChar(AB.Row(y)[x * 3]);
        }
        return s;
    };
    QCOMPARE(text(RotateBitmap90(src, true)), QStringLiteral("da/eb/fc"));
    QCOMPARE(text(RotateBitmap90(src, false)), QStringLiteral("cf/be/ad"));
    QCOMPARE(text(RotateBitmap180(src)), QStringLiteral("fed/cba"));
}

void TRotateTest::matchesReference() {
    QFETCH(int, w);
    QFETCH(int, h);
    const TBitmap24 src = NumberedBitmap(w, h);
    COMPARE_PIXELS(RotateBitmap90(src, true), Reference(src, TTurn::Cw));
    COMPARE_PIXELS(RotateBitmap90(src, false), Reference(src, TTurn::Ccw));
    COMPARE_PIXELS(RotateBitmap180(src), Reference(src, TTurn::Half));
    // The source is left as it was.
    COMPARE_PIXELS(src, NumberedBitmap(w, h));
}

void TRotateTest::rowBandsAndPaths_data() {
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("h");
    QTest::addColumn<int>("bandRows");
    QTest::addColumn<bool>("portable");
    for (bool portable : {false, true}) {
        const char* path = portable ? "portable" : "fastest";
        for (int band : {1, 5, 32, 100000}) {
            QTest::addRow("%s 37x53 by %d", path, band) << 37 << 53 << band << portable;
            QTest::addRow("%s 100x33 by %d", path, band) << 100 << 33 << band << portable;
        }
        QTest::addRow("%s 19x2100 whole", path) << 19 << 2100 << 100000 << portable;
        QTest::addRow("%s 1x1", path) << 1 << 1 << 1 << portable;
    }
}

// The decoder's use: bands of rows turned into a destination of any stride. Nothing may
// be written past a row's pixels (the row padding may be another picture's memory).
void TRotateTest::rowBandsAndPaths() {
    QFETCH(int, w);
    QFETCH(int, h);
    QFETCH(int, bandRows);
    QFETCH(bool, portable);
    const TPixelPath path = portable ? TPixelPath::Portable : TPixelPath::Fastest;
    const TBitmap24 src = NumberedBitmap(w, h);
    for (bool cw : {true, false}) {
        const TGuardedTurn turned(src, cw, bandRows, path);
        QVERIFY2(turned.GuardsIntact(), cw ? "clockwise" : "counter-clockwise");
        COMPARE_PIXELS(turned.Pixels(), Reference(src, cw ? TTurn::Cw : TTurn::Ccw));
    }
    TBitmap24 reversed(w, 1);
    ReverseRow(reversed.Row(0), src.Row(h - 1), w, path);
    for (int x = 0; x < w; ++x)
        QCOMPARE(std::memcmp(reversed.Row(0) + x * 3, src.Row(h - 1) + (w - 1 - x) * 3, 3), 0);
}

void TRotateTest::turnsCompose() {
    QFETCH(int, w);
    QFETCH(int, h);
    const TBitmap24 src = NumberedBitmap(w, h);
    for (bool cw : {true, false}) {
        TBitmap24 b = src.Clone();
        for (int i = 0; i < 4; ++i)
            b = RotateBitmap90(b, cw);
        COMPARE_PIXELS(b, src);
    }
    COMPARE_PIXELS(RotateBitmap90(RotateBitmap90(src, true), false), src);
    COMPARE_PIXELS(RotateBitmap90(RotateBitmap90(src, false), true), src);
    COMPARE_PIXELS(RotateBitmap90(RotateBitmap90(src, true), true), RotateBitmap180(src));
    COMPARE_PIXELS(RotateBitmap90(RotateBitmap90(src, false), false), RotateBitmap180(src));
}

void TRotateTest::halfTurnInPlace() {
    QFETCH(int, w);
    QFETCH(int, h);
    TBitmap24 b = NumberedBitmap(w, h);
    const uint8_t* pixels = b.Bits();
    const TBitmap24 turned = RotateBitmap180(std::move(b));
    QCOMPARE(turned.Bits(), pixels);
    COMPARE_PIXELS(turned, Reference(NumberedBitmap(w, h), TTurn::Half));
}

void TRotateTest::applyOrientation_data() {
    QTest::addColumn<int>("orientation");
    QTest::addColumn<int>("turn");    // -1: none, else TTurn
    QTest::addColumn<bool>("mirror"); // then left and right exchanged
    for (int o : {0, 1, 9, 0xFFFF, -1})
        QTest::addRow("%d as stored", o) << o << -1 << false;
    QTest::newRow("2 mirrored") << 2 << -1 << true;
    QTest::newRow("3 half turn") << 3 << int(TTurn::Half) << false;
    QTest::newRow("4 half turn, mirrored") << 4 << int(TTurn::Half) << true;
    QTest::newRow("5 clockwise, mirrored") << 5 << int(TTurn::Cw) << true;
    QTest::newRow("6 clockwise") << 6 << int(TTurn::Cw) << false;
    QTest::newRow("7 counter-clockwise, mirrored") << 7 << int(TTurn::Ccw) << true;
    QTest::newRow("8 counter-clockwise") << 8 << int(TTurn::Ccw) << false;
}

void TRotateTest::applyOrientation() {
    QFETCH(int, orientation);
    QFETCH(int, turn);
    QFETCH(bool, mirror);
    const TBitmap24 src = NumberedBitmap(37, 21);
    TBitmap24 expected = turn < 0 ? src.Clone() : Reference(src, TTurn(turn));
    if (mirror) {
        TBitmap24 mirrored(expected.Width(), expected.Height());
        for (int y = 0; y < expected.Height(); ++y)
            for (int x = 0; x < expected.Width(); ++x)
                std::memcpy(mirrored.Row(y) + (expected.Width() - 1 - x) * 3,
                            expected.Row(y) + x * 3, 3);
        expected = std::move(mirrored);
    }

    const TBitmap24 copied = ApplyOrientation(src, orientation);
    COMPARE_PIXELS(copied, expected);
    QVERIFY(copied.Bits() != src.Bits());

    // Moved in: the pixels stay where they are unless a quarter turn needs new rows.
    TBitmap24 owned = src.Clone();
    const uint8_t* pixels = owned.Bits();
    const TBitmap24 moved = ApplyOrientation(std::move(owned), orientation);
    COMPARE_PIXELS(moved, expected);
    const bool quarter = turn == int(TTurn::Cw) || turn == int(TTurn::Ccw);
    QCOMPARE(moved.Bits() == pixels, !quarter);
}

QTEST_GUILESS_MAIN(TRotateTest)
#include "tRotate.moc"

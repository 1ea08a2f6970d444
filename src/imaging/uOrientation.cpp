#include "imaging/uOrientation.h"

#include "imaging/uRotate.h"

#include <cstdint>
#include <utility>

namespace {

// Bounds-checked readers over the file bytes; 0 for any byte outside the array.
class TByteReader {
public:
    explicit TByteReader(const QByteArray& ABytes)
        : FData(reinterpret_cast<const uint8_t*>(ABytes.constData())), FSize(ABytes.size()) {}

    qsizetype Size() const { return FSize; }
    uint8_t At(qsizetype AP) const { return AP >= 0 && AP < FSize ? FData[AP] : 0; }

    uint32_t Rd16(qsizetype AP, bool ALittle) const {
        if (AP < 0 || AP > FSize - 2)
            return 0;
        const uint32_t b0 = FData[AP], b1 = FData[AP + 1];
        return ALittle ? (b1 << 8 | b0) : (b0 << 8 | b1);
    }

    uint32_t Rd32(qsizetype AP, bool ALittle) const {
        if (AP < 0 || AP > FSize - 4)
            return 0;
        const uint32_t b0 = FData[AP], b1 = FData[AP + 1], b2 = FData[AP + 2], b3 = FData[AP + 3];
        return ALittle ? (b3 << 24 | b2 << 16 | b1 << 8 | b0)
                       : (b0 << 24 | b1 << 16 | b2 << 8 | b3);
    }

private:
    const uint8_t* FData;
    qsizetype FSize;
};

constexpr uint32_t KTagOrientation = 0x0112;

// The orientation from the APP1 segment whose length field starts at AI.
int ReadApp1Orientation(const TByteReader& AR, qsizetype AI) {
    const qsizetype n = AR.Size();
    const qsizetype p = AI + 2;
    if (p + 6 > n)
        return 1;
    static const uint8_t exifId[6] = {'E', 'x', 'i', 'f', 0, 0};
    for (int j = 0; j < 6; ++j)
        if (AR.At(p + j) != exifId[j])
            return 1;

    const qsizetype t = p + 6;
    if (t + 8 > n)
        return 1;
    bool little;
    if (AR.At(t) == 'I' && AR.At(t + 1) == 'I')
        little = true;
    else if (AR.At(t) == 'M' && AR.At(t + 1) == 'M')
        little = false;
    else
        return 1;

    // 64-bit arithmetic: a 32-bit offset cannot wrap it.
    const qsizetype f = t + static_cast<qsizetype>(AR.Rd32(t + 4, little));
    if (f < t || f + 2 > n)
        return 1;
    const uint32_t count = AR.Rd16(f, little);
    for (uint32_t e = 0; e < count; ++e) {
        const qsizetype q = f + 2 + 12 * static_cast<qsizetype>(e);
        if (q + 12 > n)
            return 1;
        if (AR.Rd16(q, little) == KTagOrientation) {
            // Type and count are not trusted; the value is the first 16 bits of the field.
            const uint32_t v = AR.Rd16(q + 8, little);
            return v >= 1 && v <= 8 ? static_cast<int>(v) : 1;
        }
    }
    return 1;
}

} // namespace

int ReadJpegOrientation(const QByteArray& AFileBytes) {
    const TByteReader r(AFileBytes);
    const qsizetype n = r.Size();
    if (n < 4 || r.At(0) != 0xFF || r.At(1) != 0xD8)
        return 1;

    qsizetype i = 2;
    while (i + 4 < n) {
        if (r.At(i) != 0xFF) {
            ++i;
            continue;
        }
        while (i < n && r.At(i) == 0xFF)
            ++i;
        if (i >= n)
            return 1;
        const uint8_t m = r.At(i);
        ++i;
        if (m == 0xD9 || m == 0xDA)
            return 1;
        if (m == 0x01 || (m >= 0xD0 && m <= 0xD7))
            continue;
        const uint32_t len = r.Rd16(i, false);
        if (len < 2)
            return 1;
        if (m == 0xE1)
            return ReadApp1Orientation(r, i); // only the first APP1 is looked at
        i += len;
    }
    return 1;
}

int OrientationTurn(int AOrientation) {
    switch (AOrientation) {
    case 3:
    case 4: // mirrored top to bottom: half a turn, then left to right
        return 3;
    case 5: // across the main diagonal: clockwise, then left to right
    case 6:
        return 6;
    case 7: // across the other diagonal: counter-clockwise, then left to right
    case 8:
        return 8;
    default:
        return 1;
    }
}

bool OrientationMirrors(int AOrientation) {
    return AOrientation == 2 || AOrientation == 4 || AOrientation == 5 || AOrientation == 7;
}

TBitmap24 ApplyOrientation(const TBitmap24& ABitmap, int AOrientation) {
    // The turns make a new bitmap anyway; only the mirror alone works in place on a copy.
    switch (OrientationTurn(AOrientation)) {
    case 3:
        return ApplyOrientation(RotateBitmap180(ABitmap), OrientationMirrors(AOrientation) ? 2 : 1);
    case 6:
    case 8:
        return ApplyOrientation(RotateBitmap90(ABitmap, OrientationTurn(AOrientation) == 6),
                                OrientationMirrors(AOrientation) ? 2 : 1);
    default:
        return ApplyOrientation(ABitmap.Clone(), AOrientation);
    }
}

TBitmap24 ApplyOrientation(TBitmap24&& ABitmap, int AOrientation) {
    TBitmap24 turned;
    switch (OrientationTurn(AOrientation)) {
    case 3:
        turned = RotateBitmap180(std::move(ABitmap));
        break;
    case 6:
        turned = RotateBitmap90(ABitmap, true);
        break;
    case 8:
        turned = RotateBitmap90(ABitmap, false);
        break;
    default:
        turned = std::move(ABitmap);
        break;
    }
    return OrientationMirrors(AOrientation) ? MirrorBitmap(std::move(turned)) : std::move(turned);
}

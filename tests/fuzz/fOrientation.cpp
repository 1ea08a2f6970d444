// libFuzzer target for the Exif orientation reader: any bytes, as a received JPEG file.
#include "imaging/uOrientation.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    // A copy of exactly the input's size, so that ASan sees any read past its end.
    const QByteArray bytes(reinterpret_cast<const char*>(AData), qsizetype(ASize));
    const int orientation = ReadJpegOrientation(bytes);
    if (orientation < 1 || orientation > 8)
        __builtin_trap();

    TBitmap24 bitmap(3, 2);
    std::memset(bitmap.Bits(), 0x5A, bitmap.ByteCount());
    const TBitmap24 upright = ApplyOrientation(bitmap, orientation);
    // 5 to 8 stand the picture on its side (5 and 7 mirrored across a diagonal).
    const bool quarterTurn = orientation >= 5;
    if (upright.Width() != (quarterTurn ? 2 : 3) || upright.Height() != (quarterTurn ? 3 : 2))
        __builtin_trap();
    return 0;
}

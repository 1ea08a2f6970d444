// libFuzzer target for decoding a received picture into a bitmap, as stored and upright:
// any bytes, whatever format they claim to be.
#include "imaging/uImageDecode.h"

#include <cstddef>
#include <cstdint>

namespace {

void Check(const std::optional<TBitmap24>& ABitmap, const QString& AError) {
    if (!ABitmap) {
        if (AError.isEmpty())
            __builtin_trap(); // a refusal always says why
        return;
    }
    if (ABitmap->IsEmpty() || qint64(ABitmap->Width()) * ABitmap->Height() > MaxImagePixels)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    const QByteArray bytes(reinterpret_cast<const char*>(AData), qsizetype(ASize));
    QString error;
    const std::optional<TBitmap24> stored = DecodeImage(bytes, &error);
    Check(stored, error);
    error.clear();
    const std::optional<TBitmap24> upright = DecodeUpright(bytes, &error);
    Check(upright, error);
    // Turning changes the shape at most by a quarter turn.
    if (stored.has_value() != upright.has_value())
        __builtin_trap();
    if (stored &&
        qint64(stored->Width()) * stored->Height() != qint64(upright->Width()) * upright->Height())
        __builtin_trap();
    return 0;
}

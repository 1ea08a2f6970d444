// libFuzzer target for inflating a compressed answer. The first byte picks the encoding
// ("gzip" when even, "deflate" when odd), the rest is the body.
#include "common/uErrors.h"
#include "service/uHttp.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    if (ASize == 0)
        return 0;
    const QByteArray encoding = AData[0] % 2 == 0 ? "gzip" : "deflate";
    const QByteArray body(reinterpret_cast<const char*>(AData + 1), qsizetype(ASize - 1));
    constexpr qint64 cap = 1024 * 1024;
    try {
        if (InflateBody(body, encoding, cap).size() > cap)
            __builtin_trap();
    } catch (const TTransportError&) {
        // Broken or too large: refused, which is right.
    }
    return 0;
}

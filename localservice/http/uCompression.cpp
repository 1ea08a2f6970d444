#include "http/uCompression.h"

#include <zlib.h>

std::optional<std::string> Compress(std::string_view AData, TCompression AKind) {
    int WindowBits = 15; // zlib wrapper
    if (AKind == TCompression::Gzip) {
        WindowBits = 15 + 16;
    } else if (AKind == TCompression::RawDeflate) {
        WindowBits = -15;
    }
    z_stream Stream{};
    if (deflateInit2(&Stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, WindowBits, 8,
                     Z_DEFAULT_STRATEGY) != Z_OK) {
        return std::nullopt;
    }
    std::string Out(deflateBound(&Stream, static_cast<uLong>(AData.size())), '\0');
    Stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(AData.data()));
    Stream.avail_in = static_cast<uInt>(AData.size());
    Stream.next_out = reinterpret_cast<Bytef*>(Out.data());
    Stream.avail_out = static_cast<uInt>(Out.size());
    const int Result = deflate(&Stream, Z_FINISH);
    Out.resize(Stream.total_out);
    deflateEnd(&Stream);
    if (Result != Z_STREAM_END) {
        return std::nullopt;
    }
    return Out;
}

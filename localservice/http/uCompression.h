#pragma once
// Compressing scripted response bodies the way services send them.
#include <optional>
#include <string>
#include <string_view>

enum class TCompression { Gzip, Zlib, RawDeflate };

// Nothing when zlib fails, which only happens when memory runs out.
std::optional<std::string> Compress(std::string_view AData, TCompression AKind);

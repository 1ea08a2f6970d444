// libFuzzer target for scanlume-local's form reader. The input's first line is the request's
// Content-Type, the rest its body.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "http/uMultipart.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    const std::string_view Input(reinterpret_cast<const char*>(AData), ASize);
    const size_t LineEnd = Input.find('\n');
    const std::string_view ContentType =
        LineEnd == std::string_view::npos ? Input : Input.substr(0, LineEnd);
    const std::string_view Body =
        LineEnd == std::string_view::npos ? std::string_view() : Input.substr(LineEnd + 1);

    std::vector<TFormPart> Parts;
    std::string Error;
    if (ParseMultipart(ContentType, Body, Parts, Error)) {
        // Every part's data is a piece of the body.
        size_t Total = 0;
        for (const TFormPart& Part : Parts) {
            Total += Part.Data.size();
        }
        if (Total > Body.size()) {
            __builtin_trap();
        }
    } else if (Error.empty()) {
        __builtin_trap(); // a refusal always says why
    }
    return 0;
}

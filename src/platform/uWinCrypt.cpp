#include "platform/uWinCrypt.h"

// windows.h first: wincrypt.h needs its types.
#include <windows.h>

#include <wincrypt.h>

namespace WinCrypt {
namespace {

std::optional<std::string> Run(bool AProtect, const std::string& AInput) {
    DATA_BLOB in{static_cast<DWORD>(AInput.size()),
                 reinterpret_cast<BYTE*>(const_cast<char*>(AInput.data()))};
    DATA_BLOB out{};
    const BOOL ok = AProtect ? CryptProtectData(&in, nullptr, nullptr, nullptr, nullptr,
                                                CRYPTPROTECT_UI_FORBIDDEN, &out)
                             : CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr,
                                                  CRYPTPROTECT_UI_FORBIDDEN, &out);
    if (!ok)
        return std::nullopt;
    std::string result(reinterpret_cast<const char*>(out.pbData), out.cbData);
    LocalFree(out.pbData);
    return result;
}

} // namespace

std::optional<std::string> Protect(const std::string& APlain) {
    return Run(true, APlain);
}
std::optional<std::string> Unprotect(const std::string& ABlob) {
    return Run(false, ABlob);
}

} // namespace WinCrypt

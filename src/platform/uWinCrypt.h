#pragma once
// Win32 only: no Qt types, so this compiles and is tested on its own.
#include <optional>
#include <string>

namespace WinCrypt {

// CryptProtectData / CryptUnprotectData for the current user, no prompt.
std::optional<std::string> Protect(const std::string& APlain);
std::optional<std::string> Unprotect(const std::string& ABlob);

} // namespace WinCrypt

#include "platform/uWinRegistry.h"

#include <windows.h>

namespace WinRegistry {
namespace {
const wchar_t RunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t ValueName[] = L"ScanlumeReceiver";
} // namespace

bool SetRunValue(bool AEnable, const std::wstring& AExecutablePath) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, RunKey, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    bool ok = true;
    if (AEnable) {
        const std::wstring data = L"\"" + AExecutablePath + L"\"";
        ok = RegSetValueExW(key, ValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                            static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))) ==
             ERROR_SUCCESS;
    } else if (RegQueryValueExW(key, ValueName, nullptr, nullptr, nullptr, nullptr) ==
               ERROR_SUCCESS) {
        ok = RegDeleteValueW(key, ValueName) == ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return ok;
}

bool HasRunValue() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, RunKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    const bool present =
        RegQueryValueExW(key, ValueName, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return present;
}

} // namespace WinRegistry

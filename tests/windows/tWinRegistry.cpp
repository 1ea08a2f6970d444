// The start-at-sign-in value under the current user's Run key: written with the quoted
// path, replaced, read back, removed, and a removal when there is nothing to remove.
// A value that was there before the test is put back afterwards.
#include "platform/uWinRegistry.h"

#include "uWinCase.h"

#include <windows.h>

#include <cstdio>
#include <optional>

namespace {

const wchar_t RunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t ValueName[] = L"ScanlumeReceiver";

// The value's data and whether it is a plain string; nothing when there is no value.
struct TRunValue {
    std::wstring Data;
    bool IsString = false;
};

std::optional<TRunValue> ReadRunValue() {
    DWORD type = 0;
    DWORD size = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, RunKey, ValueName, RRF_RT_ANY | RRF_NOEXPAND, &type,
                     nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_CURRENT_USER, RunKey, ValueName, RRF_RT_ANY | RRF_NOEXPAND, &type,
                     data.data(), &size) != ERROR_SUCCESS)
        return std::nullopt;
    data.resize(wcsnlen(data.c_str(), data.size()));
    return TRunValue{data, type == REG_SZ};
}

// Keeps a user's own value through the test.
class TRunValueGuard {
public:
    TRunValueGuard() : FSaved(ReadRunValue()) {}
    ~TRunValueGuard() {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, RunKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
            return;
        if (FSaved)
            RegSetValueExW(key, ValueName, 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(FSaved->Data.c_str()),
                           static_cast<DWORD>((FSaved->Data.size() + 1) * sizeof(wchar_t)));
        else
            RegDeleteValueW(key, ValueName);
        RegCloseKey(key);
    }

private:
    std::optional<TRunValue> FSaved;
};

// The Run key can go only when it holds nothing else: a fresh profile.
bool DeleteRunKeyIfEmpty() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, RunKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return true;
    DWORD values = 0;
    DWORD subkeys = 0;
    const bool empty =
        RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                         nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
        values == 0 && subkeys == 0;
    RegCloseKey(key);
    return empty && RegDeleteKeyW(HKEY_CURRENT_USER, RunKey) == ERROR_SUCCESS;
}

struct TPathRow {
    const char* Name;
    std::wstring Path;
};

} // namespace

std::vector<TWinCase> RegistryCases() {
    std::vector<TWinCase> cases;
    const TPathRow paths[] = {
        {"a path with spaces", L"C:\\Program Files\\Pictoport\\Pictoport.exe"},
        {"a Japanese path", L"C:\\Users\\\u7530\u4E2D\\\u30A2\u30D7\u30EA\\Pictoport.exe"},
        {"a network path", L"\\\\server\\share\\Pictoport.exe"},
    };
    for (const TPathRow& row : paths) {
        cases.push_back(
            {std::string("registry: written, replaced and removed for ") + row.Name,
             [row](TWinCheck& AC) {
                 TRunValueGuard guard;
                 AC.That(WinRegistry::SetRunValue(true, L"C:\\old\\Pictoport.exe"),
                         "writing the first value failed");
                 AC.That(WinRegistry::SetRunValue(true, row.Path), "replacing the value failed");
                 AC.That(WinRegistry::HasRunValue(), "the value is not seen");
                 const auto value = ReadRunValue();
                 AC.That(value && value->IsString, "no string value under the Run key");
                 AC.That(value && value->Data == L"\"" + row.Path + L"\"",
                         "the value holds " + (value ? Utf8(value->Data) : "nothing") +
                             " instead of the quoted path");
                 AC.That(WinRegistry::SetRunValue(false, row.Path), "removing the value failed");
                 AC.That(!WinRegistry::HasRunValue() && !ReadRunValue(),
                         "the value is still there");
             }});
    }
    cases.push_back({"registry: removing a value that is not there succeeds", [](TWinCheck& AC) {
                         TRunValueGuard guard;
                         WinRegistry::SetRunValue(false, std::wstring());
                         AC.That(!WinRegistry::HasRunValue(), "the value could not be removed");
                         AC.That(WinRegistry::SetRunValue(false, L"C:\\Pictoport.exe"),
                                 "a removal with nothing to remove failed");
                         AC.That(!ReadRunValue(), "a removal wrote a value");
                     }});
    cases.push_back({"registry: a missing Run key is made", [](TWinCheck& AC) {
                         TRunValueGuard guard;
                         WinRegistry::SetRunValue(false, std::wstring());
                         if (!DeleteRunKeyIfEmpty()) {
                             std::printf("  (the Run key holds other values here; not removed)\n");
                             return;
                         }
                         AC.That(!WinRegistry::HasRunValue(), "a value without a key");
                         AC.That(WinRegistry::SetRunValue(true, L"C:\\Pictoport.exe"),
                                 "writing failed without the key");
                         AC.That(ReadRunValue() && ReadRunValue()->Data == L"\"C:\\Pictoport.exe\"",
                                 "the value is not under the new key");
                     }});
    return cases;
}

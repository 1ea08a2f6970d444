// The program's resources as compiled from resources/pictoport.rc and linked into this
// test: the icon group, the manifest where the loader looks for it and honoured by it
// (visual styles, per-monitor DPI awareness), and the version numbers.
#include "uWinCase.h"

#include <windows.h>

namespace {

std::wstring SelfPath() {
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path;
}

// The fixed part of the version resource; dwSignature is 0 when there is none.
VS_FIXEDFILEINFO FixedVersion() {
    const std::wstring self = SelfPath();
    DWORD handle = 0;
    std::string data(GetFileVersionInfoSizeW(self.c_str(), &handle), '\0');
    VS_FIXEDFILEINFO* info = nullptr;
    UINT size = 0;
    if (data.empty() ||
        !GetFileVersionInfoW(self.c_str(), 0, static_cast<DWORD>(data.size()), data.data()) ||
        !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &size) ||
        size < sizeof(VS_FIXEDFILEINFO))
        return VS_FIXEDFILEINFO{};
    return *info;
}

// Where the common controls this process gets come from: with the manifest's dependency,
// the side-by-side store's version 6 rather than the system folder's version 5.
std::wstring CommonControlsPath() {
    HMODULE comctl = LoadLibraryW(L"comctl32.dll");
    if (!comctl)
        return std::wstring();
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(comctl, path.data(), static_cast<DWORD>(path.size())));
    FreeLibrary(comctl);
    for (wchar_t& c : path)
        c = towlower(c);
    return path;
}

} // namespace

std::vector<TWinCase> ResourceCases() {
    return {
        {"resources: the icon group MAINICON loads",
         [](TWinCheck& AC) {
             AC.That(FindResourceW(nullptr, L"MAINICON", RT_GROUP_ICON) != nullptr,
                     "no icon group MAINICON");
             AC.That(LoadIconW(GetModuleHandleW(nullptr), L"MAINICON") != nullptr,
                     "the icon does not load");
         }},
        {"resources: the manifest is the process's resource 1",
         [](TWinCheck& AC) {
             AC.That(FindResourceW(nullptr, MAKEINTRESOURCEW(1), RT_MANIFEST) != nullptr,
                     "no manifest resource 1");
         }},
        {"resources: the manifest brings common controls 6",
         [](TWinCheck& AC) {
             const std::wstring path = CommonControlsPath();
             AC.That(path.find(L"microsoft.windows.common-controls_6595b64144ccf1df_6.") !=
                         std::wstring::npos,
                     "common controls from " + Utf8(path));
         }},
        // Version 2 of per-monitor awareness is the manifest's first choice; systems that
        // do not know it take the older per-monitor setting, and both report this.
        {"resources: the manifest makes the process per-monitor DPI aware",
         [](TWinCheck& AC) {
             const DPI_AWARENESS awareness =
                 GetAwarenessFromDpiAwarenessContext(GetThreadDpiAwarenessContext());
             AC.That(awareness == DPI_AWARENESS_PER_MONITOR_AWARE,
                     "awareness " + std::to_string(awareness));
         }},
        {"resources: file and product version 1.0.0.3",
         [](TWinCheck& AC) {
             const VS_FIXEDFILEINFO v = FixedVersion();
             AC.That(v.dwSignature == VS_FFI_SIGNATURE, "no version resource");
             AC.That(v.dwFileVersionMS == MAKELONG(0, 1) && v.dwFileVersionLS == MAKELONG(3, 0),
                     "file version differs");
             AC.That(v.dwProductVersionMS == MAKELONG(0, 1) &&
                         v.dwProductVersionLS == MAKELONG(3, 0),
                     "product version differs");
         }},
    };
}

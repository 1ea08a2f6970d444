// The program's resources as compiled from resources/pictoport.rc and linked into this
// test: the icon group, the manifest where the loader looks for it and what the loader
// made of it (visual styles, execution level, DPI awareness), and the version numbers.
#include "uWinCase.h"

#include <windows.h>

namespace {

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

// A setting of the process's activation context, as the loader read it from the manifest.
std::wstring ActivationSetting(const wchar_t* ANamespace, const wchar_t* ASetting) {
    wchar_t value[64] = {};
    SIZE_T written = 0;
    if (!QueryActCtxSettingsW(0, nullptr, ANamespace, ASetting, value, 64, &written))
        return std::wstring();
    return value;
}

struct TSettingRow {
    const char* Name;
    const wchar_t* Namespace;
    const wchar_t* Setting;
    std::wstring Expected;
};

// Version 2 of per-monitor awareness first; systems that do not know it read the older one.
const TSettingRow Settings[] = {
    {"per-monitor DPI awareness, version 2",
     L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness", L"PerMonitorV2"},
    {"the older per-monitor DPI setting", L"http://schemas.microsoft.com/SMI/2005/WindowsSettings",
     L"dpiAware", L"true/pm"},
};

} // namespace

std::vector<TWinCase> ResourceCases() {
    std::vector<TWinCase> cases = {
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
        {"resources: the manifest asks to run as the invoker, without UI access",
         [](TWinCheck& AC) {
             ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION info{};
             AC.That(QueryActCtxW(0, nullptr, nullptr, RunlevelInformationInActivationContext,
                                  &info, sizeof(info), nullptr),
                     "no run level in the activation context");
             AC.That(info.RunLevel == ACTCTX_RUN_LEVEL_AS_INVOKER,
                     "run level " + std::to_string(info.RunLevel));
             AC.That(info.UiAccess == 0, "UI access asked for");
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
    for (const TSettingRow& row : Settings) {
        cases.push_back({std::string("resources: the manifest gives the loader ") + row.Name,
                         [row](TWinCheck& AC) {
                             const std::wstring value =
                                 ActivationSetting(row.Namespace, row.Setting);
                             AC.That(value == row.Expected, "found \"" + Utf8(value) + "\"");
                         }});
    }
    return cases;
}

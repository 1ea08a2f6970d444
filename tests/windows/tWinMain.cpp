// Runs every table of Win32 cases and prints one line per case. An argument names a
// later start's mode (the single-instance cases start this program again), or else
// selects the cases whose name contains it.
#include "uWinCase.h"

#include <windows.h>

#include <cstdio>

std::string Utf8(const std::wstring& AText) {
    if (AText.empty())
        return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, AText.data(), static_cast<int>(AText.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, AText.data(), static_cast<int>(AText.size()), result.data(),
                        size, nullptr, nullptr);
    return result;
}

std::wstring SelfPath() {
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path;
}

int main(int argc, char** argv) {
    const std::string argument = argc > 1 ? argv[1] : "";
    const int childExit = RunSingleInstanceChild(argument);
    if (childExit >= 0)
        return childExit;

    std::vector<TWinCase> cases;
    for (auto table :
         {CryptCases(), RegistryCases(), ShellCases(), ResourceCases(), SingleInstanceCases()})
        cases.insert(cases.end(), table.begin(), table.end());

    int run = 0;
    int failed = 0;
    for (const TWinCase& c : cases) {
        if (!argument.empty() && c.Name.find(argument) == std::string::npos)
            continue;
        TWinCheck check;
        c.Run(check);
        ++run;
        if (check.Failures().empty()) {
            std::printf("PASS   %s\n", c.Name.c_str());
            continue;
        }
        ++failed;
        std::printf("FAIL!  %s\n", c.Name.c_str());
        for (const std::string& what : check.Failures())
            std::printf("         %s\n", what.c_str());
    }
    std::printf("Totals: %d passed, %d failed\n", run - failed, failed);
    std::fflush(stdout);
    return failed == 0 && run > 0 ? 0 : 1;
}

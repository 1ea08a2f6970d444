// The user's known folders: absolute paths of folders that exist, one per folder, and an
// empty path where the shell knows no such folder.
#include "platform/uWinShell.h"

#include "uWinCase.h"

#include <windows.h>

namespace {

bool IsAbsolute(const std::wstring& APath) {
    const bool drive =
        APath.size() >= 3 && iswalpha(APath[0]) && APath[1] == L':' && APath[2] == L'\\';
    const bool network = APath.size() >= 3 && APath[0] == L'\\' && APath[1] == L'\\';
    return drive || network;
}

bool IsFolder(const std::wstring& APath) {
    const DWORD attributes = GetFileAttributesW(APath.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

struct TFolderRow {
    const char* Name;
    int Csidl;
};

const TFolderRow Folders[] = {
    {"Pictures", WinShell::CsidlMyPictures},
    {"Documents", WinShell::CsidlPersonal},
    {"AppData", WinShell::CsidlAppData},
};

} // namespace

std::vector<TWinCase> ShellCases() {
    std::vector<TWinCase> cases;
    for (const TFolderRow& row : Folders) {
        cases.push_back({std::string("shell: the ") + row.Name + " folder", [row](TWinCheck& AC) {
                             const std::wstring path = WinShell::FolderPath(row.Csidl);
                             AC.That(IsAbsolute(path),
                                     "not an absolute path: \"" + Utf8(path) + "\"");
                             AC.That(IsFolder(path), "no such folder: " + Utf8(path));
                             AC.That(path.empty() || path.back() != L'\\',
                                     "ends in a backslash: " + Utf8(path));
                         }});
    }
    cases.push_back({"shell: each known folder is a folder of its own", [](TWinCheck& AC) {
                         std::vector<std::wstring> seen;
                         for (const TFolderRow& row : Folders) {
                             const std::wstring path = WinShell::FolderPath(row.Csidl);
                             for (const std::wstring& other : seen)
                                 AC.That(_wcsicmp(path.c_str(), other.c_str()) != 0,
                                         std::string(row.Name) + " is another folder's path");
                             seen.push_back(path);
                         }
                     }});
    cases.push_back(
        {"shell: a folder the shell does not know gives an empty path", [](TWinCheck& AC) {
             const std::wstring path = WinShell::FolderPath(0xFF);
             AC.That(path.empty(), "gave \"" + Utf8(path) + "\"");
         }});
    return cases;
}

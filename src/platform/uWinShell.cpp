#include "platform/uWinShell.h"

#include <shlobj.h>
#include <windows.h>

namespace WinShell {

std::wstring FolderPath(int ACsidl) {
    wchar_t buffer[MAX_PATH] = {};
    if (SHGetFolderPathW(nullptr, ACsidl, nullptr, 0, buffer) != S_OK)
        return std::wstring();
    return std::wstring(buffer);
}

} // namespace WinShell

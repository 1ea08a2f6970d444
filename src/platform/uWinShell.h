#pragma once
// Win32 only: no Qt types, so this compiles and is tested on its own.
#include <string>

namespace WinShell {

// SHGetFolderPathW for a CSIDL; empty when the call fails.
std::wstring FolderPath(int ACsidl);

constexpr int CsidlAppData = 0x1A;
constexpr int CsidlMyPictures = 0x27;
constexpr int CsidlPersonal = 0x05;

} // namespace WinShell

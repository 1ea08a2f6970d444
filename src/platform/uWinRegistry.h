#pragma once
// Win32 only: no Qt types, so this compiles and is tested on its own.
#include <string>

namespace WinRegistry {

// HKCU\Software\Microsoft\Windows\CurrentVersion\Run, value "ScanlumeReceiver": written
// with the quoted executable path, or deleted when present. False when the key could
// not be opened or the value not written.
bool SetRunValue(bool AEnable, const std::wstring& AExecutablePath);
bool HasRunValue();

} // namespace WinRegistry

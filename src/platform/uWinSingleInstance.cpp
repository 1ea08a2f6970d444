#include "platform/uWinSingleInstance.h"

#include <windows.h>

namespace WinSingleInstance {
namespace {
const wchar_t MutexName[] = L"ScanlumeReceiver_SingleInstance_v1";
const wchar_t MessageName[] = L"ScanlumeReceiver_ShowMe_v1";
const UINT ShowMeId = RegisterWindowMessageW(MessageName);
HANDLE GMutex = nullptr;
} // namespace

Role Claim() {
    HANDLE mutex = CreateMutexW(nullptr, TRUE, MutexName);
    if (mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        const UINT id = RegisterWindowMessageW(MessageName);
        if (id != 0)
            PostMessageW(HWND_BROADCAST, id, 0, 0);
        return Role::Second;
    }
    GMutex = mutex;
    return Role::First; // also when the mutex could not be made
}

void Release() {
    if (GMutex == nullptr)
        return;
    ReleaseMutex(GMutex);
    CloseHandle(GMutex);
    GMutex = nullptr;
}

unsigned int ShowMeMessage() {
    return ShowMeId;
}

void BringToFront(void* AWindow) {
    HWND hwnd = static_cast<HWND>(AWindow);
    ShowWindow(hwnd, SW_RESTORE);
    SetForegroundWindow(hwnd);
}

} // namespace WinSingleInstance

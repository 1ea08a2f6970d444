// One instance per session, between real processes: this program starts itself again
// as a later start ("--claim") and counts the show-me messages that reach its window.
#include "platform/uWinSingleInstance.h"

#include "uWinCase.h"

#include <windows.h>

namespace {

// Exit codes of a later start.
constexpr DWORD ExitFirst = 1;
constexpr DWORD ExitSecond = 2;
constexpr DWORD StartFailed = 0xFFFFFFFF;

const char ClaimMode[] = "--claim";
const char ShowMeIdMode[] = "--show-me-id";

struct TShowMeSeen {
    int Count = 0;
    bool CarriedData = false;
};
TShowMeSeen ShowMeSeen;

LRESULT CALLBACK WindowProc(HWND AWindow, UINT AMessage, WPARAM AW, LPARAM AL) {
    const UINT showMe = WinSingleInstance::ShowMeMessage();
    if (showMe != 0 && AMessage == showMe) {
        ++ShowMeSeen.Count;
        ShowMeSeen.CarriedData = ShowMeSeen.CarriedData || AW != 0 || AL != 0;
    }
    return DefWindowProcW(AWindow, AMessage, AW, AL);
}

HWND MakeWindow(DWORD AStyle) {
    static const ATOM windowClass = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = WindowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"PictoportWinTestWindow";
        return RegisterClassW(&wc);
    }();
    if (windowClass == 0)
        return nullptr;
    return CreateWindowExW(0, L"PictoportWinTestWindow", L"Pictoport test", AStyle, 100, 100, 400,
                           300, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

// Starts this program in a mode and returns its exit code.
DWORD StartAndWait(const std::wstring& ASelf, const std::string& AMode) {
    std::wstring commandLine = L"\"" + ASelf + L"\" " + std::wstring(AMode.begin(), AMode.end());
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(ASelf.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process))
        return StartFailed;
    DWORD code = StartFailed;
    if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, StartFailed);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

// Dispatches this thread's messages until ACount show-me messages were seen in all, or
// ten seconds passed.
void PumpUntilSeen(int ACount) {
    const ULONGLONG deadline = GetTickCount64() + 10000;
    while (ShowMeSeen.Count < ACount && GetTickCount64() < deadline) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
}

std::string Role(DWORD AExit) {
    if (AExit == ExitFirst)
        return "first";
    if (AExit == ExitSecond)
        return "second";
    return "exit code " + std::to_string(AExit);
}

struct TFrontRow {
    const char* Name;
    std::function<void(HWND)> Prepare;
};

} // namespace

int RunSingleInstanceChild(const std::string& AMode) {
    if (AMode == ClaimMode)
        return WinSingleInstance::Claim() == WinSingleInstance::Role::First ? ExitFirst
                                                                            : ExitSecond;
    if (AMode == ShowMeIdMode)
        return static_cast<int>(WinSingleInstance::ShowMeMessage());
    return -1;
}

std::vector<TWinCase> SingleInstanceCases() {
    const std::wstring self = SelfPath();
    std::vector<TWinCase> cases = {
        // Before this process claims: a start that ends gives the name back.
        {"single instance: each start is first while no other copy runs",
         [self](TWinCheck& AC) {
             for (int start = 1; start <= 2; ++start) {
                 const DWORD exit = StartAndWait(self, ClaimMode);
                 AC.That(exit == ExitFirst,
                         "start " + std::to_string(start) + " was " + Role(exit));
             }
         }},
        {"single instance: this process, started alone, is first",
         [](TWinCheck& AC) {
             AC.That(WinSingleInstance::Claim() == WinSingleInstance::Role::First,
                     "claimed as second");
         }},
        {"single instance: a later start is second and asks the first to the front",
         [self](TWinCheck& AC) {
             HWND window = MakeWindow(WS_OVERLAPPEDWINDOW);
             AC.That(window != nullptr, "no window to receive the message");
             const int before = ShowMeSeen.Count;
             const DWORD exit = StartAndWait(self, ClaimMode);
             AC.That(exit == ExitSecond, "the later start was " + Role(exit));
             PumpUntilSeen(before + 1);
             AC.That(ShowMeSeen.Count == before + 1,
                     std::to_string(ShowMeSeen.Count - before) + " show-me message(s) arrived");
             AC.That(!ShowMeSeen.CarriedData, "the message carried data");
             DestroyWindow(window);
         }},
        {"single instance: every later start asks again",
         [self](TWinCheck& AC) {
             HWND window = MakeWindow(WS_OVERLAPPEDWINDOW);
             const int before = ShowMeSeen.Count;
             for (int start = 1; start <= 2; ++start) {
                 const DWORD exit = StartAndWait(self, ClaimMode);
                 AC.That(exit == ExitSecond,
                         "start " + std::to_string(start) + " was " + Role(exit));
             }
             PumpUntilSeen(before + 2);
             AC.That(ShowMeSeen.Count == before + 2,
                     std::to_string(ShowMeSeen.Count - before) + " of 2 messages arrived");
             DestroyWindow(window);
         }},
        {"single instance: every process has the same show-me message",
         [self](TWinCheck& AC) {
             const UINT id = WinSingleInstance::ShowMeMessage();
             AC.That(id >= 0xC000 && id <= 0xFFFF,
                     "not a registered message: " + std::to_string(id));
             const DWORD other = StartAndWait(self, ShowMeIdMode);
             AC.That(other == id, "another process has " + std::to_string(other));
         }},
    };

    // Whatever state the window is in, it ends shown, not minimised, at its normal place.
    const TFrontRow fronts[] = {
        {"shown and normal", [](HWND) {}},
        {"minimised", [](HWND AW) { ShowWindow(AW, SW_MINIMIZE); }},
        {"hidden", [](HWND AW) { ShowWindow(AW, SW_HIDE); }},
        {"minimised, then hidden",
         [](HWND AW) {
             ShowWindow(AW, SW_MINIMIZE);
             ShowWindow(AW, SW_HIDE);
         }},
    };
    for (const TFrontRow& row : fronts) {
        cases.push_back(
            {std::string("single instance: a window ") + row.Name + " comes to the front restored",
             [row](TWinCheck& AC) {
                 HWND window = MakeWindow(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
                 AC.That(window != nullptr, "no window");
                 if (!window)
                     return;
                 RECT normal{};
                 GetWindowRect(window, &normal);
                 row.Prepare(window);
                 WinSingleInstance::BringToFront(window);
                 RECT now{};
                 GetWindowRect(window, &now);
                 AC.That(IsWindowVisible(window), "still hidden");
                 AC.That(!IsIconic(window), "still minimised");
                 AC.That(EqualRect(&normal, &now), "moved or resized");
                 DestroyWindow(window);
             }});
    }
    return cases;
}

#pragma once
// Win32 only: no Qt types, so this compiles and is tested on its own.
namespace WinSingleInstance {

enum class Role { First, Second };

// CreateMutexW with initial ownership; a second instance registers and broadcasts
// the show-me message and returns Second. The handle is kept until Release or the end
// of the process.
Role Claim();
// Lets the mutex go, so that a start while this process is still ending runs.
void Release();

// The registered show-me message, 0 when registration failed.
unsigned int ShowMeMessage();

// Restores, shows and brings the window to the front.
void BringToFront(void* AWindow);

} // namespace WinSingleInstance

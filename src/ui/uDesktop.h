#pragma once
#include <QString>
#include <functional>

// Hands a file or folder to the desktop: the file manager for a folder, the default
// application for a file (the shell's "open" verb on Windows, QDesktopServices here).
// Tests replace it, so that nothing is really opened.
namespace Desktop {

using TOpener = std::function<bool(const QString& APath)>;

// True when the desktop accepted the request.
bool Open(const QString& APath);
// Replaces the desktop (tests); an empty opener restores it.
void SetOpener(TOpener AOpener);

} // namespace Desktop

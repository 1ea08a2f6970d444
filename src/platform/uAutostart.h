#pragma once
#include <QString>

// Start at sign-in: the per-user Run value "ScanlumeReceiver" on Windows, an XDG
// autostart entry ScanlumeReceiver.desktop elsewhere. Returns false when it could
// not be written or removed.
bool SetRunAtStartup(bool AEnable, const QString& AExecutablePath);
QString AutostartEntryPath();
// The check box's caption: it names Windows only where the sign-in is a Windows one.
QString RunAtStartupCaption();

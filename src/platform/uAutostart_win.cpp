#include "platform/uAutostart.h"
#include "platform/uWinRegistry.h"

#include <QDir>

bool SetRunAtStartup(bool AEnable, const QString& AExecutablePath) {
    return WinRegistry::SetRunValue(AEnable,
                                    QDir::toNativeSeparators(AExecutablePath).toStdWString());
}

QString AutostartEntryPath() {
    return QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\"
                          "ScanlumeReceiver");
}

QString RunAtStartupCaption() {
    return QStringLiteral("Windowsサインイン時にアプリを起動する");
}

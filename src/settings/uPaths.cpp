#include "settings/uPaths.h"

#include "platform/uKnownFolders.h"

#include <QDir>

namespace {
#ifdef Q_OS_WIN
constexpr QChar PathDelimiter = u'\\';
bool IsDelimiter(QChar c) {
    return c == u'\\' || c == u'/';
}
#else
constexpr QChar PathDelimiter = u'/';
bool IsDelimiter(QChar c) {
    return c == u'/';
}
#endif
} // namespace

QString JoinPath(const QString& AFolder, const QString& AName) {
    if (AFolder.isEmpty())
        return AName;
    if (AName.isEmpty())
        return AFolder;
    if (QDir::isAbsolutePath(AName))
        return AName;
    if (IsDelimiter(AFolder.back()))
        return AFolder + AName;
    return AFolder + PathDelimiter + AName;
}

QString ConfigDir() {
    return JoinPath(KnownFolderPath(TKnownFolder::AppData), QStringLiteral("ScanlumeReceiver"));
}

QString IniPath() {
    return JoinPath(ConfigDir(), QStringLiteral("settings.ini"));
}

QString DefaultSaveFolder() {
    return JoinPath(KnownFolderPath(TKnownFolder::Pictures), QStringLiteral("Scanlume"));
}

QString FallbackTextFolder() {
    return JoinPath(KnownFolderPath(TKnownFolder::Documents), QStringLiteral("ScanlumeReceiver"));
}

#include "uTestEnv.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

TTestEnv::TTestEnv() {
    const QString root = FDir.path();
    for (const char* sub : {"home", "config", "runtime", "home/Pictures", "home/Documents", "data"})
        QDir().mkpath(root + QLatin1Char('/') + QLatin1String(sub));
    QFile::setPermissions(RuntimeDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("HOME", QFile::encodeName(root + QStringLiteral("/home")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(ConfigHome()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(root + QStringLiteral("/data")));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(RuntimeDir()));
    // xdg-user-dirs reads this file; without it Qt falls back to ~/Pictures and ~/Documents.
    QFile dirs(ConfigHome() + QStringLiteral("/user-dirs.dirs"));
    if (dirs.open(QIODevice::WriteOnly)) {
        dirs.write("XDG_PICTURES_DIR=\"$HOME/Pictures\"\nXDG_DOCUMENTS_DIR=\"$HOME/Documents\"\n");
    }
    QStandardPaths::setTestModeEnabled(false);
}

QString TTestEnv::ConfigHome() const {
    return FDir.path() + QStringLiteral("/config");
}
QString TTestEnv::RuntimeDir() const {
    return FDir.path() + QStringLiteral("/runtime");
}
QString TTestEnv::PicturesDir() const {
    return FDir.path() + QStringLiteral("/home/Pictures");
}
QString TTestEnv::DocumentsDir() const {
    return FDir.path() + QStringLiteral("/home/Documents");
}

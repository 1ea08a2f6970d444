#include "platform/uAutostart.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

QString AutostartEntryPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/ScanlumeReceiver.desktop");
}

namespace {
// Exec= of a desktop entry: the path in double quotes with ", `, $ and \ escaped, then
// every backslash doubled once more because the value is itself an escaped string.
QString QuoteExec(const QString& APath) {
    QString quoted;
    for (QChar c : APath) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    quoted.replace(QLatin1String("%"), QLatin1String("%%"));
    quoted.replace(QLatin1String("\\"), QLatin1String("\\\\"));
    return u'"' + quoted + u'"';
}
} // namespace

bool SetRunAtStartup(bool AEnable, const QString& AExecutablePath) {
    const QString path = AutostartEntryPath();
    if (!AEnable)
        return !QFile::exists(path) || QFile::remove(path);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Pictoport\n"
                                         "Comment=Scanlume PC受信\n"
                                         "Exec=%1\n"
                                         "Icon=pictoport\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(QuoteExec(AExecutablePath));
    file.write(entry.toUtf8());
    return file.commit();
}

QString RunAtStartupCaption() {
    return QStringLiteral("サインイン時にアプリを起動する");
}

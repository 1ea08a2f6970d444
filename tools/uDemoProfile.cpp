// Writes a settings file through the program's own settings code, for the demo:
//   pictoport-profile URL EMAIL PASSWORD SAVE_FOLDER
// The settings folder follows XDG_CONFIG_HOME, so the caller points it at the demo's
// own folder and a real user's settings are never touched.
#include "settings/uPaths.h"
#include "settings/uSettings.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5) {
        std::fprintf(stderr, "usage: pictoport-profile URL EMAIL PASSWORD SAVE_FOLDER\n");
        return 2;
    }
    TAppSettings s;
    s.Load();
    s.ServerUrl = args[1];
    s.Email = args[2];
    s.Password = args[3];
    s.SaveFolder = args[4];
    s.AutoSave = true;
    s.AutoConnect = true;
    try {
        s.Save();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "could not write %s: %s\n", qPrintable(IniPath()), e.what());
        return 1;
    }
    std::printf("%s\n", qPrintable(IniPath()));
    return 0;
}

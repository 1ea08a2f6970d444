#include "app/uAppSetup.h"
#include "platform/uSingleInstance.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[]) {
    // Before anything else: a second start only asks the first to come forward.
    TSingleInstance instance;
    if (instance.Claim() == TSingleInstance::TRole::Second)
        return 0;

    QApplication app(argc, argv);
    SetUpApplication();
    instance.Listen();

    QWidget window;
    window.setWindowTitle(QStringLiteral("Pictoport（Scanlume PC受信）"));
    window.resize(1100, 720);
    QObject::connect(&instance, &TSingleInstance::ShowMeRequested, &window, [&window] {
        if (!window.isVisible())
            window.show();
        window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
        window.raise();
        window.activateWindow();
    });
    window.show();
    return app.exec();
}

#include "ui/uApplication.h"

#include <QApplication>

static void InitResources() {
    Q_INIT_RESOURCE(pictoport);
}

QIcon AppIcon() {
    // The resources live in a static library; make sure the linker keeps them.
    InitResources();
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/pictoport-%1.png").arg(size), QSize(size, size));
    return icon;
}

void SetUpApplication() {
    QApplication::setApplicationName(QStringLiteral("Pictoport"));
    QApplication::setApplicationVersion(QStringLiteral(PICTOPORT_VERSION));
    QApplication::setOrganizationName(QStringLiteral("ScanlumeReceiver"));
    QApplication::setWindowIcon(AppIcon());
    // The notification-area icon never keeps the program alive: closing the window ends it.
    QApplication::setQuitOnLastWindowClosed(true);
}

#include "platform/uDesktopNotification.h"

void ShowDesktopNotification(const QString&, const QString&, int) {}

#pragma once
#include <QString>

// A notification through the desktop's own service, for when there is no
// notification-area icon to show a balloon from. Fire and forget: a missing service
// never stalls the caller. Windows has no such service apart from the balloon. AText is
// plain text: it is escaped for servers that read the body as markup.
void ShowDesktopNotification(const QString& ATitle, const QString& AText, int ATimeoutMs);

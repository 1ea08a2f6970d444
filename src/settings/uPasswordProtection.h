#pragma once
#include <QByteArray>
#include <QString>

// Protection of the stored password, bound to the current user: Windows data protection
// (DPAPI) there; elsewhere a libsodium secret box under a per-user key that the desktop
// keyring keeps (a key file in the settings folder without one). The result is Base64
// text for the settings file.
QString DpapiProtect(const QString& APassword);
// Raises "パスワードの復号に失敗しました" when the blob cannot be opened.
QString DpapiUnprotect(const QString& ABase64);

QString BytesToBase64(const QByteArray& ABytes);
// Removes tab, line feed, carriage return and blank; every other character stays.
QString StripWhitespace(const QString& AText);

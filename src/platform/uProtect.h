#pragma once
#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

class QObject;

// Protects bytes for the current user only. On Windows: data protection
// (CryptProtectData), which needs no key of ours. Elsewhere: a libsodium secret box
// under the per-user key, kept in the desktop keyring or, without one, in a key file in
// AKeyFolder. nullopt means failure.
std::optional<QByteArray> PlatformProtect(const QByteArray& APlain, const QString& AKeyFolder);
std::optional<QByteArray> PlatformUnprotect(const QByteArray& ABlob, const QString& AKeyFolder);
// Readies protection for the current user without blocking: the desktop keyring may
// wait for the user to unlock it. ADone runs on AContext's thread, unless it has gone.
void PlatformPrepareKey(const QString& AKeyFolder, QObject* AContext, std::function<void()> ADone);

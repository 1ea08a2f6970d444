#pragma once
#include <QByteArray>
#include <functional>
#include <optional>

class QObject;

// Protects bytes for the current user only: Windows data protection there, a
// libsodium secret box under the user key elsewhere. nullopt means failure.
std::optional<QByteArray> PlatformProtect(const QByteArray& APlain);
std::optional<QByteArray> PlatformUnprotect(const QByteArray& ABlob);
// Readies protection for the current user without blocking: the desktop keyring may
// wait for the user to unlock it. ADone runs on AContext's thread, unless it has gone.
void PlatformPrepareKey(QObject* AContext, std::function<void()> ADone);

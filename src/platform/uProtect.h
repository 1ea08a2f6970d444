#pragma once
#include <QByteArray>
#include <optional>

// Protects bytes for the current user only: Windows data protection there, a
// libsodium secret box under the user key elsewhere. nullopt means failure.
std::optional<QByteArray> PlatformProtect(const QByteArray& APlain);
std::optional<QByteArray> PlatformUnprotect(const QByteArray& ABlob);

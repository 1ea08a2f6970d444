#pragma once
#include <QByteArray>
#include <optional>

// The per-user 256-bit key that protects the stored password off Windows. It lives in
// the desktop keyring (Secret Service, KWallet) through QtKeychain; with no keyring, in
// a key file in the settings folder that only the user can read (mode 0600).
namespace UserKey {

constexpr int KeySize = 32;

// The existing key, or nullopt when there is none or the key file is not trusted
// (readable by others, wrong size, not a regular file).
std::optional<QByteArray> Find();

// The existing key, or a new one stored where it will be found again. Throws TAppError
// when no key can be kept anywhere.
QByteArray FindOrCreate();

} // namespace UserKey

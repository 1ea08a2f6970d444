#pragma once
#include <QByteArray>
#include <QList>
#include <optional>

// The per-user 256-bit key that protects the stored password off Windows. It lives in
// the desktop keyring (Secret Service, KWallet) through QtKeychain; with no keyring, in
// a key file in the settings folder that only the user can read (mode 0600).
namespace UserKey {

constexpr int KeySize = 32;

// Every existing key, the keyring's first, then the key file's when it is trusted
// (a regular file of this user that nobody else can read, of the right size). A
// password sealed while there was no keyring stays readable once one appears.
QList<QByteArray> FindAll();

// The existing key, or a new one stored where it will be found again. Throws TAppError
// when no key can be kept anywhere.
QByteArray FindOrCreate();

} // namespace UserKey

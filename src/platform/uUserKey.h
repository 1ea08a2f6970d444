#pragma once
#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

class QObject;

// The per-user 256-bit key that protects the stored password off Windows. It lives in
// the desktop keyring (Secret Service, KWallet) through QtKeychain; with no keyring, in
// a key file "password.key" in AKeyFolder (the settings folder) that only the user can
// read (mode 0600).
//
// The keyring may wait for the user (an unlock prompt at sign-in). Prepare asks it
// without blocking and remembers the answer for the process, so that FindAll and
// FindOrCreate after it need no keyring call; without it, they ask it themselves and
// wait at most a second. Window thread only: QtKeychain keeps per-thread objects.
namespace UserKey {

constexpr int KeySize = 32;

// Every existing key, the keyring's first, then the key file's when it is trusted
// (a regular file of this user that nobody else can read, of the right size). A
// password sealed while there was no keyring stays readable once one appears.
QList<QByteArray> FindAll(const QString& AKeyFolder);

// The existing key, or a new one stored where it will be found again. Throws TAppError
// when no key can be kept anywhere.
QByteArray FindOrCreate(const QString& AKeyFolder);

// Finds, or makes, the key without blocking; ADone runs on AContext's thread when the
// keyring has answered, unless AContext has gone by then.
void Prepare(const QString& AKeyFolder, QObject* AContext, std::function<void()> ADone);

} // namespace UserKey

#include "platform/uUserKey.h"

#include "common/uErrors.h"
#include "settings/uPaths.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTimer>
#include <qt6keychain/keychain.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

namespace UserKey {
namespace {

const QString KeyringService = QStringLiteral("ScanlumeReceiver");
const QString KeyringKey = QStringLiteral("password-key");

QString KeyFilePath() { return JoinPath(ConfigDir(), QStringLiteral("password.key")); }

enum class TKeyringState { Found, Missing, Unavailable };

// QtKeychain works asynchronously; the settings code is synchronous, so wait here, but
// not for ever: a keyring that wants a prompt counts as no keyring.
constexpr int KeyringTimeoutMs = 5000;

template <typename TJob> bool RunJob(TJob& AJob) {
    AJob.setAutoDelete(false);
    QEventLoop loop;
    bool finished = false;
    QObject::connect(&AJob, &QKeychain::Job::finished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    QTimer::singleShot(KeyringTimeoutMs, &loop, &QEventLoop::quit);
    AJob.start();
    if (!finished)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    return finished;
}

TKeyringState ReadKeyring(QByteArray& AKey) {
    // Demos and tests keep their key beside their own settings, away from the
    // user's real keyring.
    if (qgetenv("PICTOPORT_KEYRING") == "off")
        return TKeyringState::Unavailable;
    QKeychain::ReadPasswordJob job(KeyringService);
    job.setKey(KeyringKey);
    if (!RunJob(job))
        return TKeyringState::Unavailable;
    if (job.error() == QKeychain::NoError) {
        AKey = job.binaryData();
        return TKeyringState::Found;
    }
    return job.error() == QKeychain::EntryNotFound ? TKeyringState::Missing
                                                   : TKeyringState::Unavailable;
}

bool WriteKeyring(const QByteArray& AKey) {
    QKeychain::WritePasswordJob job(KeyringService);
    job.setKey(KeyringKey);
    job.setBinaryData(AKey);
    return RunJob(job) && job.error() == QKeychain::NoError;
}

// A key file is trusted only when it is a regular file of this user that nobody
// else can read or write, and has the right size.
std::optional<QByteArray> ReadKeyFile() {
    const QByteArray path = QFile::encodeName(KeyFilePath());
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid() ||
        (st.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        return std::nullopt;
    QFile file(KeyFilePath());
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray key = file.read(KeySize + 1);
    if (key.size() != KeySize)
        return std::nullopt;
    return key;
}

bool WriteKeyFile(const QByteArray& AKey) {
    QDir().mkpath(ConfigDir());
    QSaveFile file(KeyFilePath());
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // Permissions before the first byte, so the key is never readable by others.
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return false;
    if (file.write(AKey) != AKey.size())
        return false;
    return file.commit();
}

} // namespace

QList<QByteArray> FindAll() {
    QList<QByteArray> keys;
    QByteArray key;
    if (ReadKeyring(key) == TKeyringState::Found && key.size() == KeySize)
        keys.append(key);
    if (auto fileKey = ReadKeyFile(); fileKey && !keys.contains(*fileKey))
        keys.append(*fileKey);
    return keys;
}

QByteArray FindOrCreate() {
    QByteArray key;
    const TKeyringState state = ReadKeyring(key);
    if (state == TKeyringState::Found && key.size() == KeySize)
        return key;
    if (state != TKeyringState::Found) {
        if (auto fileKey = ReadKeyFile())
            return *fileKey;
    }
    if (sodium_init() < 0)
        throw TAppError(QStringLiteral("libsodium could not be initialised"));
    key.resize(KeySize);
    randombytes_buf(key.data(), KeySize);
    if (state != TKeyringState::Unavailable && WriteKeyring(key))
        return key;
    if (WriteKeyFile(key))
        return key;
    throw TAppError(QStringLiteral("no place to keep the password key"));
}

} // namespace UserKey

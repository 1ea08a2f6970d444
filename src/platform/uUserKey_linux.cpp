#include "platform/uUserKey.h"

#include "common/uErrors.h"

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

QString KeyFilePath(const QString& AFolder) {
    return QDir(AFolder).filePath(QStringLiteral("password.key"));
}

enum class TKeyringState { Unknown, Found, Missing, Unavailable };

// What the keyring said, once asked: it is asked once per process, so a save after the
// start-up lookup needs no keyring call. QtKeychain keeps objects of its own in the
// thread that first uses it, so all of this runs on the window thread.
struct TKeyringMemory {
    TKeyringState State = TKeyringState::Unknown;
    QByteArray Key;
    bool Asking = false; // an asynchronous request is out, maybe behind an unlock prompt
};

TKeyringMemory& Memory() {
    static TKeyringMemory memory;
    return memory;
}

bool KeyringDisabled() {
    // Demos and tests keep their key beside their own settings, away from the
    // user's real keyring.
    return qgetenv("PICTOPORT_KEYRING") == "off";
}

void RememberKey(const QByteArray& AKey) {
    Memory().State = TKeyringState::Found;
    Memory().Key = AKey;
}

void RememberRead(const QKeychain::ReadPasswordJob& AJob) {
    TKeyringMemory& memory = Memory();
    if (AJob.error() == QKeychain::NoError && AJob.binaryData().size() == KeySize) {
        RememberKey(AJob.binaryData());
    } else if (AJob.error() == QKeychain::EntryNotFound) {
        memory.State = TKeyringState::Missing;
    } else {
        memory.State = TKeyringState::Unavailable;
    }
}

// A synchronous call waits in a local event loop with user input held back, so it is
// kept short: a keyring that needs longer (a prompt) counts as no keyring.
constexpr int KeyringTimeoutMs = 1000;

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
    TKeyringMemory& memory = Memory();
    // Never queue behind a request that may be waiting for the user.
    if (KeyringDisabled() || memory.Asking)
        return TKeyringState::Unavailable;
    if (memory.State == TKeyringState::Unknown) {
        QKeychain::ReadPasswordJob job(KeyringService);
        job.setKey(KeyringKey);
        if (RunJob(job))
            RememberRead(job);
        else
            memory.State = TKeyringState::Unavailable;
    }
    AKey = memory.Key;
    return memory.State;
}

bool WriteKeyring(const QByteArray& AKey) {
    if (Memory().Asking)
        return false;
    QKeychain::WritePasswordJob job(KeyringService);
    job.setKey(KeyringKey);
    job.setBinaryData(AKey);
    if (!RunJob(job) || job.error() != QKeychain::NoError)
        return false;
    RememberKey(AKey);
    return true;
}

// A key file is trusted only when it is a regular file of this user that nobody
// else can read or write, and has the right size.
std::optional<QByteArray> ReadKeyFile(const QString& AFolder) {
    const QByteArray path = QFile::encodeName(KeyFilePath(AFolder));
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid() ||
        (st.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        return std::nullopt;
    QFile file(KeyFilePath(AFolder));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray key = file.read(KeySize + 1);
    if (key.size() != KeySize)
        return std::nullopt;
    return key;
}

bool WriteKeyFile(const QString& AFolder, const QByteArray& AKey) {
    QDir().mkpath(AFolder);
    QSaveFile file(KeyFilePath(AFolder));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // Permissions before the first byte, so the key is never readable by others.
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return false;
    if (file.write(AKey) != AKey.size())
        return false;
    return file.commit();
}

QByteArray NewKey() {
    if (sodium_init() < 0)
        throw TAppError(QStringLiteral("libsodium could not be initialised"));
    QByteArray key(KeySize, Qt::Uninitialized);
    randombytes_buf(key.data(), KeySize);
    return key;
}

} // namespace

QList<QByteArray> FindAll(const QString& AKeyFolder) {
    QList<QByteArray> keys;
    QByteArray key;
    if (ReadKeyring(key) == TKeyringState::Found && key.size() == KeySize)
        keys.append(key);
    if (auto fileKey = ReadKeyFile(AKeyFolder); fileKey && !keys.contains(*fileKey))
        keys.append(*fileKey);
    return keys;
}

void Prepare(const QString& AKeyFolder, QObject* AContext, std::function<void()> ADone) {
    TKeyringMemory& memory = Memory();
    if (KeyringDisabled() || memory.State != TKeyringState::Unknown || memory.Asking) {
        QTimer::singleShot(0, AContext, std::move(ADone));
        return;
    }
    // Jobs delete themselves when they finish, even after AContext has gone: a keyring
    // request cannot be called back.
    memory.Asking = true;
    auto* read = new QKeychain::ReadPasswordJob(KeyringService);
    read->setKey(KeyringKey);
    QObject::connect(read, &QKeychain::Job::finished, read, [read] {
        RememberRead(*read);
        Memory().Asking = false;
    });
    QObject::connect(read, &QKeychain::Job::finished, AContext, [AKeyFolder, AContext, ADone] {
        if (Memory().State != TKeyringState::Missing || ReadKeyFile(AKeyFolder)) {
            ADone();
            return;
        }
        // The first start with a keyring: make the key there now, not at the first save.
        QByteArray key;
        try {
            key = NewKey();
        } catch (const TAppError&) {
            ADone();
            return;
        }
        Memory().Asking = true;
        auto* write = new QKeychain::WritePasswordJob(KeyringService);
        write->setKey(KeyringKey);
        write->setBinaryData(key);
        QObject::connect(write, &QKeychain::Job::finished, write, [write, key] {
            if (write->error() == QKeychain::NoError)
                RememberKey(key);
            Memory().Asking = false;
        });
        QObject::connect(write, &QKeychain::Job::finished, AContext, ADone);
        write->start();
    });
    read->start();
}

QByteArray FindOrCreate(const QString& AKeyFolder) {
    QByteArray key;
    const TKeyringState state = ReadKeyring(key);
    if (state == TKeyringState::Found && key.size() == KeySize)
        return key;
    if (state != TKeyringState::Found) {
        if (auto fileKey = ReadKeyFile(AKeyFolder))
            return *fileKey;
    }
    key = NewKey();
    if (state != TKeyringState::Unavailable && WriteKeyring(key))
        return key;
    if (WriteKeyFile(AKeyFolder, key))
        return key;
    throw TAppError(QStringLiteral("no place to keep the password key"));
}

} // namespace UserKey

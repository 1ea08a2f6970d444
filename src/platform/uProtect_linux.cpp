#include "common/uErrors.h"
#include "platform/uProtect.h"
#include "platform/uUserKey.h"

#include <QByteArray>
#include <optional>
#include <sodium.h>

// Blob layout: one version byte (1), a 24-byte random nonce, then crypto_secretbox
// of the UTF-8 password (16-byte MAC followed by the ciphertext) under the user key.
namespace {
constexpr char BlobVersion = 1;
constexpr int HeaderSize = 1 + crypto_secretbox_NONCEBYTES;
} // namespace

std::optional<QByteArray> PlatformProtect(const QByteArray& APlain, const QString& AKeyFolder) {
    if (sodium_init() < 0)
        return std::nullopt;
    QByteArray key;
    try {
        key = UserKey::FindOrCreate(AKeyFolder);
    } catch (const TAppError&) {
        return std::nullopt;
    }
    QByteArray blob(HeaderSize + crypto_secretbox_MACBYTES + APlain.size(), Qt::Uninitialized);
    auto* out = reinterpret_cast<unsigned char*>(blob.data());
    out[0] = BlobVersion;
    randombytes_buf(out + 1, crypto_secretbox_NONCEBYTES);
    crypto_secretbox_easy(out + HeaderSize, reinterpret_cast<const unsigned char*>(APlain.data()),
                          static_cast<unsigned long long>(APlain.size()), out + 1,
                          reinterpret_cast<const unsigned char*>(key.constData()));
    sodium_memzero(key.data(), key.size());
    return blob;
}

void PlatformPrepareKey(const QString& AKeyFolder, QObject* AContext, std::function<void()> ADone) {
    UserKey::Prepare(AKeyFolder, AContext, std::move(ADone));
}

std::optional<QByteArray> PlatformUnprotect(const QByteArray& ABlob, const QString& AKeyFolder) {
    if (sodium_init() < 0)
        return std::nullopt;
    if (ABlob.size() < HeaderSize + static_cast<int>(crypto_secretbox_MACBYTES) ||
        ABlob.at(0) != BlobVersion)
        return std::nullopt;
    const auto* in = reinterpret_cast<const unsigned char*>(ABlob.constData());
    const qsizetype cipherSize = ABlob.size() - HeaderSize;
    QByteArray plain(cipherSize - crypto_secretbox_MACBYTES, Qt::Uninitialized);
    bool opened = false;
    for (QByteArray& key : UserKey::FindAll(AKeyFolder)) {
        opened = opened || crypto_secretbox_open_easy(
                               reinterpret_cast<unsigned char*>(plain.data()), in + HeaderSize,
                               static_cast<unsigned long long>(cipherSize), in + 1,
                               reinterpret_cast<const unsigned char*>(key.constData())) == 0;
        sodium_memzero(key.data(), key.size());
    }
    if (!opened)
        return std::nullopt;
    return plain;
}

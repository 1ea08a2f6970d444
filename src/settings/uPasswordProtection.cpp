#include "settings/uPasswordProtection.h"

#include "common/uErrors.h"
#include "platform/uProtect.h"
#include "settings/uPaths.h"

namespace {
const char* const ProtectFailed = "パスワードの暗号化に失敗しました";
const char* const UnprotectFailed = "パスワードの復号に失敗しました";
} // namespace

QString BytesToBase64(const QByteArray& ABytes) {
    return QString::fromLatin1(ABytes.toBase64(QByteArray::Base64Encoding));
}

QString StripWhitespace(const QString& AText) {
    QString result;
    result.reserve(AText.size());
    for (QChar c : AText) {
        if (c != u'\t' && c != u'\n' && c != u'\r' && c != u' ')
            result.append(c);
    }
    return result;
}

QString DpapiProtect(const QString& APassword) {
    if (APassword.isEmpty())
        return QString();
    const std::optional<QByteArray> blob = PlatformProtect(APassword.toUtf8(), ConfigDir());
    if (!blob)
        throw TAppError(QString::fromUtf8(ProtectFailed));
    return BytesToBase64(*blob);
}

QString DpapiUnprotect(const QString& ABase64) {
    if (ABase64.isEmpty())
        return QString();
    // The default decoder skips characters outside the alphabet, as the stored form allows.
    const QByteArray blob = QByteArray::fromBase64(StripWhitespace(ABase64).toLatin1());
    if (blob.isEmpty())
        return QString();
    const std::optional<QByteArray> plain = PlatformUnprotect(blob, ConfigDir());
    if (!plain)
        throw TAppError(QString::fromUtf8(UnprotectFailed));
    return QString::fromUtf8(*plain);
}

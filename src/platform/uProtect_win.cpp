#include "platform/uProtect.h"
#include "platform/uWinCrypt.h"

#include <QByteArray>
#include <QTimer>
#include <optional>

std::optional<QByteArray> PlatformProtect(const QByteArray& APlain, const QString&) {
    auto blob = WinCrypt::Protect(APlain.toStdString());
    return blob ? std::optional<QByteArray>(QByteArray::fromStdString(*blob)) : std::nullopt;
}

std::optional<QByteArray> PlatformUnprotect(const QByteArray& ABlob, const QString&) {
    auto plain = WinCrypt::Unprotect(ABlob.toStdString());
    return plain ? std::optional<QByteArray>(QByteArray::fromStdString(*plain)) : std::nullopt;
}

// Data protection needs no key of ours and never prompts.
void PlatformPrepareKey(const QString&, QObject* AContext, std::function<void()> ADone) {
    QTimer::singleShot(0, AContext, std::move(ADone));
}

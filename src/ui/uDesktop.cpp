#include "ui/uDesktop.h"

#include <QDesktopServices>
#include <QUrl>

namespace Desktop {
namespace {
TOpener& Opener() {
    static TOpener opener;
    return opener;
}
} // namespace

bool Open(const QString& APath) {
    if (Opener())
        return Opener()(APath);
    return QDesktopServices::openUrl(QUrl::fromLocalFile(APath));
}

void SetOpener(TOpener AOpener) {
    Opener() = std::move(AOpener);
}

} // namespace Desktop

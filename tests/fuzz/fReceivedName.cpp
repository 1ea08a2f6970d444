// libFuzzer target for the names a received item is saved under. The input's first line
// is the "X-Image-Filename" header as sent, the second the Content-Type, the rest the
// item's bytes.
#include "common/uErrors.h"
#include "common/uTextRules.h"
#include "files/uSavedFiles.h"
#include "service/uApiClient.h"

#include <QStringList>

#include <cstddef>
#include <cstdint>

namespace {

QByteArray NextLine(QByteArray& ARest) {
    const qsizetype end = ARest.indexOf('\n');
    const QByteArray line = end < 0 ? ARest : ARest.left(end);
    ARest = end < 0 ? QByteArray() : ARest.mid(end + 1);
    return line;
}

// A name that stays inside the save folder and that Windows keeps as it is.
void CheckSafe(const QString& AName) {
    if (AName.isEmpty() || AName == QLatin1String(".") || AName == QLatin1String(".."))
        __builtin_trap();
    if (AName.toUtf8().size() > 240)
        __builtin_trap();
    if (AName.back() == u'.' || AName.back() == u' ' || AName.front() == u' ')
        __builtin_trap();
    for (const QChar c : AName) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || c.category() == QChar::Other_Format ||
            QStringLiteral("\\/:<>\"|?*").contains(c))
            __builtin_trap();
    }
    if (SavedFiles::SafeFileName(AName) != AName)
        __builtin_trap();
}

bool EndsWithAny(const QString& AName, const QStringList& AExtensions) {
    const QString lower = TextRules::AsciiLower(AName);
    for (const QString& ext : AExtensions)
        if (lower.endsWith(ext))
            return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    QByteArray rest(reinterpret_cast<const char*>(AData), qsizetype(ASize));
    const QByteArray header = NextLine(rest);
    const QString contentType = QString::fromUtf8(NextLine(rest));

    QString filename;
    try {
        filename = DecodeImageFilename(QString::fromUtf8(header));
    } catch (const TAppError& e) {
        if (e.Message().isEmpty())
            __builtin_trap();
    }

    // A received picture: never saved under a name that runs by a double-click.
    const QString image = SavedFiles::SafeFileName(SavedFiles::PatientFileName(
        QStringLiteral("0123"), SavedFiles::ReceivedImageName(filename, rest, contentType)));
    CheckSafe(image);
    static const QStringList pictures = {
        QStringLiteral(".jpg"),  QStringLiteral(".jpeg"), QStringLiteral(".png"),
        QStringLiteral(".bmp"),  QStringLiteral(".gif"),  QStringLiteral(".tif"),
        QStringLiteral(".tiff"), QStringLiteral(".webp"), QStringLiteral(".heic"),
        QStringLiteral(".heif"), QStringLiteral(".pdf"),  QStringLiteral(".bin")};
    if (!EndsWithAny(image, pictures))
        __builtin_trap();

    CheckSafe(SavedFiles::SafeFileName(filename));
    return 0;
}

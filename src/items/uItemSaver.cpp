#include "items/uItemSaver.h"

#include "common/uTextRules.h"
#include "files/uSavedFiles.h"
#include "settings/uPaths.h"

#include <QDir>

namespace ItemSaver {
namespace {

TSaved Write(const QString& AFolder, const QString& AName, const QByteArray& ABytes) {
    TSaved saved;
    QDir().mkpath(AFolder);
    const QString path = SavedFiles::UniqueFilePath(AFolder, AName);
    if (SavedFiles::WriteFileAtomically(path, ABytes, saved.Error))
        saved.Path = path;
    return saved;
}

} // namespace

TSaved SaveImage(const QString& AFolder, const QString& APatientId, const QString& AFilename,
                 const QString& AContentType, const QByteArray& AData) {
    const QString folder = SavedFiles::AbsoluteFolder(AFolder);
    if (folder.isEmpty())
        return {};
    const QString name = SavedFiles::ReceivedImageName(AFilename, AData, AContentType);
    return Write(folder, SavedFiles::PatientFileName(APatientId, name), AData);
}

TSaved SaveText(const QString& AFolder, const QString& AName, const QString& AText) {
    return SaveTextBytes(AFolder, AName, SavedFiles::TextFileBytes(AText));
}

TSaved SaveTextBytes(const QString& AFolder, const QString& AName, const QByteArray& ABytes) {
    QString folder = SavedFiles::AbsoluteFolder(AFolder);
    if (folder.isEmpty())
        folder = FallbackTextFolder();
    // Whatever the sender called it, it opens as a text and runs as nothing else.
    QString name = SavedFiles::FileNamePart(AName);
    while (name.startsWith(u'.'))
        name.remove(0, 1);
    if (!TextRules::AsciiLower(name).endsWith(QLatin1String(".txt")))
        name += QStringLiteral(".txt");
    return Write(folder, name, ABytes);
}

} // namespace ItemSaver

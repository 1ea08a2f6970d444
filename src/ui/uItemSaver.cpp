#include "ui/uItemSaver.h"

#include "common/uTextRules.h"
#include "settings/uPaths.h"
#include "ui/uSavedFiles.h"

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
                 const QByteArray& AData) {
    const QString folder = TextRules::Trim(AFolder);
    if (folder.isEmpty())
        return {};
    return Write(folder, SavedFiles::PatientFileName(APatientId, AFilename), AData);
}

TSaved SaveText(const QString& AFolder, const QString& AName, const QString& AText) {
    return SaveTextBytes(AFolder, AName, SavedFiles::TextFileBytes(AText));
}

TSaved SaveTextBytes(const QString& AFolder, const QString& AName, const QByteArray& ABytes) {
    QString folder = TextRules::Trim(AFolder);
    if (folder.isEmpty())
        folder = FallbackTextFolder();
    return Write(folder, AName, ABytes);
}

} // namespace ItemSaver

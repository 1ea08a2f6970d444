#pragma once
// Saved lab tables for the trend's tests: written as the program writes them (BuildLabTsv,
// UTF-8 with its mark), or as raw bytes for the broken ones.
#include "files/uLabTable.h"
#include "files/uSavedFiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QString>

// The bytes a lab table of these values is saved with.
inline QByteArray LabTableBytes(const QString& AExamDate, const QString& AInstitution,
                                const QList<TLabValue>& AValues) {
    return SavedFiles::TextFileBytes(BuildLabTsv(AValues, AExamDate, AInstitution));
}

// Writes ABytes to AFolder/AName (folders made as needed); false when it could not.
inline bool WriteBytes(const QString& AFolder, const QString& AName, const QByteArray& ABytes) {
    const QString path = AFolder + u'/' + AName;
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(ABytes) == ABytes.size();
}

// Every file under AFolder with its size and time, to show that nothing was written.
inline QStringList FolderState(const QString& AFolder) {
    QStringList state;
    QDirIterator it(AFolder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        state << info.filePath() + u'|' + QString::number(info.size()) + u'|' +
                     info.lastModified().toString(Qt::ISODateWithMs);
    }
    state.sort();
    return state;
}

#pragma once
#include <QDateTime>
#include <QString>
#include <functional>

// One regular file met by a folder walk.
struct TFolderFile {
    QString Folder; // the folder as given, joined with the path inside it, ending in "/"
    QString Name;
    QDateTime Modified; // local time
    qint64 Size = 0;
};

// Says from the name alone whether a file is wanted, before it is looked at.
using TFolderFileFilter = std::function<bool(const QString& AName)>;
// Takes one wanted file; false ends the walk.
using TFolderFileSink = std::function<bool(TFolderFile&& AFile)>;

// Walks AFolder's tree, hidden entries included: a folder's files as listed, then its
// subfolders. Links and junctions to folders are not followed, so the walk stays inside
// and cannot loop; links to files give their target's time and size. Entries that go or
// cannot be read meanwhile are passed over. False, with the system's error text, when
// AFolder itself cannot be listed.
//
// WalkFolderFiles is the fastest walk the system offers (on Linux one stat per wanted
// file only); WalkFolderFilesPortable the same walk through Qt's directory iterator.
bool WalkFolderFiles(const QString& AFolder, const TFolderFileFilter& AWanted,
                     const TFolderFileSink& ATake, QString& AError);
bool WalkFolderFilesPortable(const QString& AFolder, const TFolderFileFilter& AWanted,
                             const TFolderFileSink& ATake, QString& AError);

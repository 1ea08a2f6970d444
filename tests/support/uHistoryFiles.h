#pragma once
// Files for the saved-file history's tests: made with a size and a last-write time, and
// the open-file limit held tight so that a folder cannot be listed.
#include "files/uHistoryScan.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#include <unistd.h>
#endif

inline const QDateTime T0(QDate(2024, 5, 1), QTime(9, 30, 15));

// A file of ASize bytes (folders made as needed), last written at ATime.
inline bool MakeFile(const QString& APath, qint64 ASize = 1, const QDateTime& ATime = T0) {
    if (!QDir().mkpath(QFileInfo(APath).absolutePath()))
        return false;
    QFile f(APath);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    if (ASize > 0 && !f.resize(ASize))
        return false;
    return f.setFileTime(ATime, QFileDevice::FileModificationTime);
}

inline QStringList Names(const QList<TFileEntry>& AEntries) {
    QStringList names;
    for (const TFileEntry& e : AEntries)
        names << e.Name;
    return names;
}

#ifdef Q_OS_UNIX
// Holds the process's open-file limit at the files already open, so that the next open
// fails with EMFILE ("Too many open files") even for root; restored when it goes.
class TNoMoreFiles {
public:
    TNoMoreFiles() {
        getrlimit(RLIMIT_NOFILE, &FSaved);
        const int lowestFree = dup(0);
        close(lowestFree);
        rlimit tight = FSaved;
        tight.rlim_cur = rlim_t(lowestFree);
        setrlimit(RLIMIT_NOFILE, &tight);
    }
    ~TNoMoreFiles() { setrlimit(RLIMIT_NOFILE, &FSaved); }
    TNoMoreFiles(const TNoMoreFiles&) = delete;
    TNoMoreFiles& operator=(const TNoMoreFiles&) = delete;

private:
    rlimit FSaved{};
};
#endif

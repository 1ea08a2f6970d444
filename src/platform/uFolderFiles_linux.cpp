#include "platform/uFolderFiles.h"

#include <QByteArray>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

QString ErrorText(int AErrno) {
    return QString::fromLocal8Bit(std::generic_category().message(AErrno));
}

struct TDirCloser {
    void operator()(DIR* ADir) const { closedir(ADir); }
};

// A file time as local time. Qt's own conversion re-reads the time zone for every call,
// which costs more than the rest of the walk together; localtime_r with the offset it
// finds gives the same wall-clock time (tzset is called once per scan).
QDateTime LocalTime(const timespec& ATime) {
    const qint64 ms = qint64(ATime.tv_sec) * 1000 + ATime.tv_nsec / 1000000;
    tm parts{};
    const time_t seconds = ATime.tv_sec;
    if (!localtime_r(&seconds, &parts))
        return QDateTime::fromMSecsSinceEpoch(ms);
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, int(parts.tm_gmtoff));
}

// opendir/readdir with one stat per listed file only (the directory entry's type says
// what is a folder), which is what keeps a scan of thousands of files near the speed of
// `find`. Symbolic links to files are listed with their target's time and size; links to
// folders are not followed, so that the walk stays inside the save folder and cannot
// loop, and a folder met twice (a bind mount inside itself) is walked once.
} // namespace

bool WalkFolderFiles(const QString& AFolder, const TFolderFileFilter& AWanted,
                     const TFolderFileSink& ATake, QString& AError) {
    struct TDir {
        QByteArray Native; // path for the system calls
        QString Shown;     // the same path as entries show it, ending in a separator
    };
    tzset();
    std::vector<TDir> pending;
    pending.push_back(
        {QFile::encodeName(AFolder), AFolder.endsWith(u'/') ? AFolder : AFolder + u'/'});
    std::set<std::pair<dev_t, ino_t>> seen;
    bool first = true;
    while (!pending.empty()) {
        const TDir dir = std::move(pending.back());
        pending.pop_back();
        const bool isRoot = first;
        first = false;
        // The save folder itself may be a link; below it, links are not followed.
        const int fd = open(dir.Native.constData(),
                            O_RDONLY | O_DIRECTORY | O_CLOEXEC | (isRoot ? 0 : O_NOFOLLOW));
        DIR* opened = fd >= 0 ? fdopendir(fd) : nullptr;
        if (!opened) {
            const int error = errno;
            if (fd >= 0)
                close(fd);
            if (isRoot) {
                AError = ErrorText(error);
                return false;
            }
            continue; // a subfolder that went or cannot be read is passed over like a file
        }
        const std::unique_ptr<DIR, TDirCloser> guard(opened);
        struct stat dirStat {};
        if (fstat(fd, &dirStat) == 0 && !seen.emplace(dirStat.st_dev, dirStat.st_ino).second)
            continue;

        std::vector<TDir> subdirs; // walked after this folder's files, in listing order
        for (;;) {
            errno = 0;
            const dirent* item = readdir(opened);
            if (!item) {
                if (errno != 0 && isRoot) {
                    AError = ErrorText(errno);
                    return false;
                }
                break;
            }
            const char* name = item->d_name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
                continue;
            unsigned char type = item->d_type;
            struct stat st {};
            bool haveStat = false;
            if (type == DT_UNKNOWN) { // file systems that do not fill in the type
                if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                    continue;
                type = S_ISDIR(st.st_mode)   ? DT_DIR
                       : S_ISLNK(st.st_mode) ? DT_LNK
                       : S_ISREG(st.st_mode) ? DT_REG
                                             : DT_UNKNOWN;
                haveStat = type == DT_REG;
            }
            const qsizetype length = qsizetype(std::strlen(name));
            if (type == DT_DIR) {
                QByteArray native = dir.Native;
                native += '/';
                native.append(name, length);
                subdirs.push_back({std::move(native), dir.Shown + QFile::decodeName(name) + u'/'});
                continue;
            }
            // Pipes, sockets and devices are no files to open.
            if (type != DT_REG && type != DT_LNK)
                continue;
            QString fileName = QString::fromUtf8(name, length);
            // A name that is not valid in the file-name encoding would not lead back to
            // the file: its path is not valid, and it is passed over.
            if (fileName.contains(QChar::ReplacementCharacter) &&
                QFile::encodeName(fileName) != QByteArrayView(name, length))
                continue;
            if (!AWanted(fileName))
                continue;
            if (!haveStat && fstatat(fd, name, &st, 0) != 0)
                continue; // gone, or a link to nothing
            if (!S_ISREG(st.st_mode))
                continue; // a link to a folder or to something that is no file
            if (!ATake({dir.Shown, std::move(fileName), LocalTime(st.st_mtim), qint64(st.st_size)}))
                return true;
        }
        for (auto it = subdirs.rbegin(); it != subdirs.rend(); ++it)
            pending.push_back(std::move(*it));
    }
    return true;
}

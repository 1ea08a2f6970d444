#include "ui/uHistoryScan.h"

#include "common/uTextRules.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <vector>

#ifdef Q_OS_LINUX
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#endif

namespace HistoryScan {

namespace {

const QString KindLab = QStringLiteral("検査");
const QString KindPrescription = QStringLiteral("処方");
const QString KindText = QStringLiteral("テキスト");
const QString KindImage = QStringLiteral("画像");
const QString KindPdf = QStringLiteral("PDF");

bool IsDigit(QChar AChar) {
    return AChar.unicode() >= u'0' && AChar.unicode() <= u'9';
}

bool AllDigits(QStringView AText) {
    return std::all_of(AText.begin(), AText.end(), IsDigit);
}

// "yyyymmdd_hhnnss" at the start of AText, anything after it.
bool StartsWithStamp(QStringView AText) {
    return AText.size() >= 15 && AllDigits(AText.first(8)) && AText.at(8) == u'_' &&
           AllDigits(AText.sliced(9, 6));
}

// The folder as given, ending in a separator, so that a path inside it is a plain append.
QString FolderPrefix(const QString& AFolder) {
    if (AFolder.endsWith(u'/') || (QDir::separator() == u'\\' && AFolder.endsWith(u'\\')))
        return AFolder;
    return AFolder + u'/';
}

QString ErrorText(int AErrno) {
    return QString::fromLocal8Bit(std::generic_category().message(AErrno));
}

// AFolder ends in a separator.
TFileEntry MakeEntry(const QString& AFolder, QString AName, QString AKind, QDateTime AModified,
                     qint64 ASize) {
    TFileEntry entry;
    entry.Path = AFolder + AName;
    entry.KarteNo = KarteNoOf(AName);
    entry.Name = std::move(AName);
    entry.Kind = std::move(AKind);
    entry.Modified = std::move(AModified);
    entry.Size = ASize;
    return entry;
}

#ifdef Q_OS_LINUX

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
bool ScanNative(const QString& AFolder, QList<TFileEntry>& AEntries, QString& AError) {
    struct TDir {
        QByteArray Native; // path for the system calls
        QString Shown;     // the same path as entries show it, ending in a separator
    };
    tzset();
    std::vector<TDir> pending;
    pending.push_back({QFile::encodeName(AFolder), FolderPrefix(AFolder)});
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
                    AEntries.clear();
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
            QString kind = KindOf(fileName);
            if (kind.isEmpty())
                continue;
            if (!haveStat && fstatat(fd, name, &st, 0) != 0)
                continue; // gone, or a link to nothing
            if (!S_ISREG(st.st_mode))
                continue; // a link to a folder or to something that is no file
            AEntries.append(MakeEntry(dir.Shown, std::move(fileName), std::move(kind),
                                      LocalTime(st.st_mtim), qint64(st.st_size)));
            if (AEntries.size() >= MaxFiles)
                return true;
        }
        for (auto it = subdirs.rbegin(); it != subdirs.rend(); ++it)
            pending.push_back(std::move(*it));
    }
    return true;
}

#endif

} // namespace

QString KindOf(const QString& AName) {
    const qsizetype dot = AName.lastIndexOf(u'.');
    if (dot < 0)
        return {};
    const QString ext = TextRules::AsciiLower(AName.sliced(dot));
    if (ext == u".txt") {
        if (AName.contains(u"_検査"))
            return KindLab;
        if (AName.contains(u"_処方"))
            return KindPrescription;
        return KindText;
    }
    static const QString images[] = {QStringLiteral(".jpg"),  QStringLiteral(".jpeg"),
                                     QStringLiteral(".png"),  QStringLiteral(".bmp"),
                                     QStringLiteral(".gif"),  QStringLiteral(".tif"),
                                     QStringLiteral(".tiff"), QStringLiteral(".webp")};
    if (std::find(std::begin(images), std::end(images), ext) != std::end(images))
        return KindImage;
    if (ext == u".pdf")
        return KindPdf;
    return {};
}

QString KarteNoOf(const QString& AName) {
    const QStringView name(AName);
    const bool ptPrefix =
        name.size() >= 3 &&
        TextRules::SameTextAscii(name.first(2).toString(), QStringLiteral("pt")) &&
        IsDigit(name.at(2));
    const qsizetype start = ptPrefix ? 2 : 0;
    qsizetype end = start;
    while (end < name.size() && IsDigit(name.at(end)))
        ++end;
    if (end == start || end == name.size() || name.at(end) != u'_')
        return {};
    const QString number = name.sliced(start, end - start).toString();
    if (ptPrefix)
        return number;
    // Without the prefix only a result name counts: number_[検査_|処方_]yyyymmdd_hhnnss...
    QStringView rest = name.sliced(end + 1);
    if (rest.startsWith(u"検査_"))
        rest = rest.sliced(3);
    else if (rest.startsWith(u"処方_"))
        rest = rest.sliced(3);
    return StartsWithStamp(rest) ? number : QString();
}

bool ScanFolderPortable(const QString& AFolder, QList<TFileEntry>& AEntries, QString& AError) {
    AEntries.clear();
    const QFileInfo root(AFolder);
    if (!root.isDir() || !root.isReadable()) {
        AError = ErrorText(root.exists() ? EACCES : ENOENT);
        return false;
    }
    // The same order as the native walk: a folder's entries as listed, its subfolders
    // after them; links and junctions to folders are not followed.
    std::vector<QString> pending{FolderPrefix(AFolder)};
    while (!pending.empty()) {
        const QString dir = std::move(pending.back());
        pending.pop_back();
        std::vector<QString> subdirs;
        QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        while (it.hasNext()) {
            it.next();
            const QFileInfo info = it.fileInfo();
            QString name = info.fileName();
            if (info.isDir()) {
                if (!info.isSymLink() && !info.isJunction())
                    subdirs.push_back(dir + name + u'/');
                continue;
            }
            QString kind = KindOf(name);
            if (kind.isEmpty() || !info.isFile())
                continue;
            QDateTime modified = info.lastModified();
            if (!modified.isValid())
                continue;
            AEntries.append(
                MakeEntry(dir, std::move(name), std::move(kind), std::move(modified), info.size()));
            if (AEntries.size() >= MaxFiles) {
                SortEntries(AEntries);
                return true;
            }
        }
        for (auto sub = subdirs.rbegin(); sub != subdirs.rend(); ++sub)
            pending.push_back(std::move(*sub));
    }
    SortEntries(AEntries);
    return true;
}

bool ScanFolder(const QString& AFolder, QList<TFileEntry>& AEntries, QString& AError) {
#ifdef Q_OS_LINUX
    AEntries.clear();
    if (!ScanNative(AFolder, AEntries, AError)) {
        AEntries.clear();
        return false;
    }
    SortEntries(AEntries);
    return true;
#else
    return ScanFolderPortable(AFolder, AEntries, AError);
#endif
}

void SortEntries(QList<TFileEntry>& AEntries) {
    struct TKey {
        qint64 Time;
        QString Name; // ASCII-folded
        qsizetype Index;
    };
    std::vector<TKey> keys;
    keys.reserve(std::size_t(AEntries.size()));
    for (qsizetype i = 0; i < AEntries.size(); ++i)
        keys.push_back(
            {AEntries[i].Modified.toMSecsSinceEpoch(), TextRules::AsciiLower(AEntries[i].Name), i});
    // Stable, so that equal entries keep the order of the walk.
    std::stable_sort(keys.begin(), keys.end(), [](const TKey& A, const TKey& B) {
        if (A.Time != B.Time)
            return A.Time > B.Time;
        return A.Name < B.Name;
    });
    QList<TFileEntry> sorted;
    sorted.reserve(AEntries.size());
    for (const TKey& key : keys)
        sorted.append(std::move(AEntries[key.Index]));
    AEntries = std::move(sorted);
}

QString QueryOf(const QString& ASearchText) {
    return TextRules::AsciiLower(TextRules::Trim(ASearchText));
}

QList<TFileEntry> Filter(const QList<TFileEntry>& AAll, const QString& AQuery) {
    if (AQuery.isEmpty())
        return AAll;
    QList<TFileEntry> shown;
    for (const TFileEntry& entry : AAll) {
        if (TextRules::AsciiLower(entry.Name).contains(AQuery) ||
            (!entry.KarteNo.isEmpty() && entry.KarteNo.contains(AQuery)))
            shown.append(entry);
    }
    return shown;
}

namespace {

// The text between the first two fields of a date or time format ("yyyy/MM/dd" gives
// "/", "d. M. yyyy" gives "."), as the regional settings name it for Windows.
QString SeparatorOf(const QString& AFormat, const QString& AFallback) {
    enum { BeforeField, InField, InSeparator } state = BeforeField;
    QString separator;
    bool quoted = false;
    for (const QChar c : AFormat) {
        if (c == u'\'') {
            if (state == InSeparator)
                break;
            quoted = !quoted;
            continue;
        }
        if (quoted)
            continue;
        if (c.isLetter()) {
            if (state == InSeparator)
                break;
            state = InField;
        } else if (state != BeforeField) {
            state = InSeparator;
            separator += c;
        }
    }
    separator = separator.trimmed();
    return separator.isEmpty() ? AFallback : separator;
}

QString Padded(int AValue, int AWidth) {
    return QString::number(AValue).rightJustified(AWidth, u'0');
}

} // namespace

TRegionalFormat TRegionalFormat::FromLocale(const QLocale& ALocale) {
    TRegionalFormat format;
    format.DateSeparator =
        SeparatorOf(ALocale.dateFormat(QLocale::ShortFormat), format.DateSeparator);
    format.TimeSeparator =
        SeparatorOf(ALocale.timeFormat(QLocale::ShortFormat), format.TimeSeparator);
    const QString group = ALocale.groupSeparator();
    if (!group.isEmpty())
        format.ThousandSeparator = group;
    return format;
}

QString DateText(const QDateTime& ATime, const TRegionalFormat& AFormat) {
    const QDate date = ATime.date();
    const QTime time = ATime.time();
    return Padded(date.year(), 4) + AFormat.DateSeparator + Padded(date.month(), 2) +
           AFormat.DateSeparator + Padded(date.day(), 2) + u' ' + Padded(time.hour(), 2) +
           AFormat.TimeSeparator + Padded(time.minute(), 2);
}

QString SizeText(qint64 ASize, const TRegionalFormat& AFormat) {
    // (Size + 1023) div 1024, without the overflow near the top of the range.
    const qint64 kb = ASize > 0 ? ASize / 1024 + (ASize % 1024 != 0 ? 1 : 0) : 0;
    const QString digits = QString::number(kb);
    QString text;
    for (qsizetype i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            text += AFormat.ThousandSeparator;
        text += digits.at(i);
    }
    return text + QStringLiteral(" KB");
}

} // namespace HistoryScan

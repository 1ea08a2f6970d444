#include "platform/uFolderFiles.h"

#include <QDirIterator>
#include <QFileInfo>
#include <cerrno>
#include <system_error>
#include <vector>

bool WalkFolderFilesPortable(const QString& AFolder, const TFolderFileFilter& AWanted,
                             const TFolderFileSink& ATake, QString& AError) {
    const QFileInfo root(AFolder);
    if (!root.isDir() || !root.isReadable()) {
        AError = QString::fromLocal8Bit(
            std::generic_category().message(root.exists() ? EACCES : ENOENT));
        return false;
    }
    const bool separatorAtEnd =
        AFolder.endsWith(u'/') || (QDir::separator() == u'\\' && AFolder.endsWith(u'\\'));
    std::vector<QString> pending{separatorAtEnd ? AFolder : AFolder + u'/'};
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
            if (!AWanted(name) || !info.isFile())
                continue;
            QDateTime modified = info.lastModified();
            if (!modified.isValid())
                continue;
            if (!ATake({dir, std::move(name), std::move(modified), info.size()}))
                return true;
        }
        for (auto sub = subdirs.rbegin(); sub != subdirs.rend(); ++sub)
            pending.push_back(std::move(*sub));
    }
    return true;
}

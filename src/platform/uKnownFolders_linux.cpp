#include "platform/uKnownFolders.h"

#include <QStandardPaths>

QString KnownFolderPath(TKnownFolder AFolder) {
    switch (AFolder) {
    case TKnownFolder::AppData:
        return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    case TKnownFolder::Pictures:
        return QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    case TKnownFolder::Documents:
        return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    }
    return QString();
}

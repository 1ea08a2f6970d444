#include "platform/uFolderFiles.h"

// Qt's iterator already lists through FindFirstFileEx with the times and sizes the
// listing carries.
bool WalkFolderFiles(const QString& AFolder, const TFolderFileFilter& AWanted,
                     const TFolderFileSink& ATake, QString& AError) {
    return WalkFolderFilesPortable(AFolder, AWanted, ATake, AError);
}

#pragma once
#include <QString>

// Joins a folder and a name: an empty folder gives the name alone (relative to the
// current directory), an empty name the folder alone, an absolute name itself.
QString JoinPath(const QString& AFolder, const QString& AName);

QString ConfigDir();
QString IniPath();
QString DefaultSaveFolder();
// Where texts go when the save-folder box is empty.
QString FallbackTextFolder();

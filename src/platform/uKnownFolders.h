#pragma once
#include <QString>

// The per-user folders the program uses. An empty result means the lookup failed.
enum class TKnownFolder {
    AppData,   // roaming application data; XDG config home
    Pictures,  // the user's Pictures folder
    Documents, // the user's Documents folder
};

QString KnownFolderPath(TKnownFolder AFolder);

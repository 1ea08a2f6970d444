#include "platform/uKnownFolders.h"
#include "platform/uWinShell.h"

QString KnownFolderPath(TKnownFolder AFolder) {
    int csidl = WinShell::CsidlAppData;
    switch (AFolder) {
    case TKnownFolder::AppData:
        csidl = WinShell::CsidlAppData;
        break;
    case TKnownFolder::Pictures:
        csidl = WinShell::CsidlMyPictures;
        break;
    case TKnownFolder::Documents:
        csidl = WinShell::CsidlPersonal;
        break;
    }
    return QString::fromStdWString(WinShell::FolderPath(csidl));
}

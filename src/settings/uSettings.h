#pragma once
#include <QString>

// The persistent settings, kept in settings.ini in the settings folder.
struct TAppSettings {
    QString ServerUrl;
    QString Email;
    QString Password; // in clear, in memory only; protected on disk
    QString SaveFolder;
    bool AutoSave = true;
    bool AutoConnect = false;
    bool RunAtStartup = false;

    // Defaults, then whatever the file holds. A password that cannot be decrypted
    // is left empty without a word.
    void Load();
    // Rewrites the file whole, atomically. Raises TAppError when the password cannot
    // be protected or the file cannot be written; the old file is then unchanged.
    void Save() const;
};

// The service's default base URL.
QString DefaultServerUrl();

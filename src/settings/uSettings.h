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
    // A stored password that could not be opened (keyring locked, key file refused, blob
    // damaged): kept as it was, so that a save does not erase it, until a password is
    // set again. Password is then empty and PasswordError says why.
    QString UnreadablePassword;
    QString PasswordError;
    // The settings file exists but is not text this program reads: the settings are the
    // defaults, and the next save first keeps the file as BackupPath().
    bool FileUnreadable = false;
    static QString BackupPath();

    // Defaults, then whatever the file holds.
    void Load();
    // Rewrites the file whole, atomically. Raises TAppError when the password cannot
    // be protected or the file cannot be written; the old file is then unchanged. With
    // no password but an unreadable one, that one is written back byte for byte.
    void Save() const;
};

// The service's default base URL.
QString DefaultServerUrl();

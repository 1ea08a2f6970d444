#pragma once
#include <QString>

// What opening a stored password gave: the password, or why it could not be opened.
struct TOpenedPassword {
    QString Stored; // what was opened, as the file holds it
    QString Password;
    QString Error; // empty when opened
};

// The persistent settings, kept in settings.ini in the settings folder.
struct TAppSettings {
    QString ServerUrl;
    QString Email;
    QString Password; // in clear, in memory only; protected on disk
    QString SaveFolder;
    bool AutoSave = true;
    bool AutoConnect = false;
    bool RunAtStartup = false;
    // The password as the file holds it, protected. A save writes it back byte for byte
    // while it is not opened yet, could not be opened (keyring locked, key file refused,
    // blob damaged; PasswordError says why), or opened to the current Password: so a
    // password survives a failed open, and only a new one needs the key.
    QString StoredPassword;
    QString PasswordError;
    // The settings file exists but is not text this program reads: the settings are the
    // defaults, and the next save first keeps the file as BackupPath().
    bool FileUnreadable = false;
    static QString BackupPath();

    // Defaults, then whatever the file holds, the password opened.
    void Load();
    // The same, with the stored password left closed: the window opens it on another
    // thread, since the keyring may take its time.
    void LoadFile();
    // Opens a stored password; may wait for the desktop keyring. Any thread.
    static TOpenedPassword OpenPassword(const QString& AStored);
    // Takes the result of opening StoredPassword; a result for a password since replaced
    // is ignored.
    void AcceptOpenedPassword(const TOpenedPassword& AOpened);
    bool PasswordOpened() const { return FPasswordOpened; }

    // Rewrites the file whole, atomically. Raises TAppError when the password cannot
    // be protected or the file cannot be written; the old file is then unchanged.
    void Save();

private:
    bool FPasswordOpened = false;
    QString FOpenedTo; // what StoredPassword opened to
};

// The service's default base URL.
QString DefaultServerUrl();

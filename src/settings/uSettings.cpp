#include "settings/uSettings.h"

#include "common/uErrors.h"
#include "settings/uIniFile.h"
#include "settings/uPasswordProtection.h"
#include "settings/uPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {
const QString Server = QStringLiteral("server");
const QString Auth = QStringLiteral("auth");
const QString SaveSection = QStringLiteral("save");
const QString App = QStringLiteral("app");

// Far above any settings file this program writes (a few hundred bytes).
constexpr qint64 MaxSettingsBytes = 4 * 1024 * 1024;

// A missing file is an empty one. Only a regular file is read: a FIFO would block the
// start for ever, a link to a device would be read without end. Such an entry, or a
// file that cannot be opened, gives an empty file to Load (defaults) and an error to
// Save, which must not write over it. A file too large or not text in a form we know
// is moved aside as BackupPath() before a save replaces it.
TIniFile ReadIni(bool AForSave, bool* AUnreadable = nullptr) {
    const QFileInfo info(IniPath());
    if (!info.exists() && !info.isSymLink())
        return TIniFile();
    if (!info.isFile()) {
        if (AForSave)
            throw TAppError(QStringLiteral("設定ファイルが通常のファイルではありません: ") +
                            IniPath());
        return TIniFile();
    }
    QFile file(IniPath());
    if (!file.open(QIODevice::ReadOnly)) {
        if (AForSave)
            throw TAppError(file.errorString());
        return TIniFile();
    }
    const QByteArray bytes = file.read(MaxSettingsBytes + 1);
    file.close();
    if (bytes.size() > MaxSettingsBytes || !TIniFile::IsReadable(bytes)) {
        if (AUnreadable != nullptr)
            *AUnreadable = true;
        if (AForSave) {
            QFile::remove(TAppSettings::BackupPath());
            if (!QFile::rename(IniPath(), TAppSettings::BackupPath()))
                throw TAppError(QStringLiteral("読み取れない設定ファイルを残せませんでした"));
        }
        return TIniFile();
    }
    return TIniFile::Parse(bytes);
}
} // namespace

QString DefaultServerUrl() {
    return QStringLiteral("https://api.scanlume.jp");
}

QString TAppSettings::BackupPath() {
    return IniPath() + QStringLiteral(".bak");
}

void TAppSettings::Load() {
    LoadFile();
    AcceptOpenedPassword(OpenPassword(StoredPassword));
}

TOpenedPassword TAppSettings::OpenPassword(const QString& AStored) {
    TOpenedPassword opened;
    opened.Stored = AStored;
    try {
        opened.Password = DpapiUnprotect(AStored);
    } catch (const std::exception& e) {
        opened.Error = ErrorMessage(e);
    }
    return opened;
}

void TAppSettings::AcceptOpenedPassword(const TOpenedPassword& AOpened) {
    if (StoredPassword.isEmpty() || AOpened.Stored != StoredPassword || FPasswordOpened)
        return;
    FPasswordOpened = AOpened.Error.isEmpty();
    PasswordError = AOpened.Error;
    FOpenedTo = AOpened.Password;
    if (FPasswordOpened)
        Password = AOpened.Password;
}

void TAppSettings::LoadFile() {
    ServerUrl = DefaultServerUrl();
    Email.clear();
    Password.clear();
    StoredPassword.clear();
    PasswordError.clear();
    FPasswordOpened = false;
    FOpenedTo.clear();
    FileUnreadable = false;
    SaveFolder = DefaultSaveFolder();
    AutoSave = true;
    AutoConnect = false;
    RunAtStartup = false;

    const TIniFile ini = ReadIni(false, &FileUnreadable);
    ServerUrl = ini.ReadString(Server, QStringLiteral("url"), ServerUrl);
    Email = ini.ReadString(Auth, QStringLiteral("email"));
    StoredPassword = ini.ReadString(Auth, QStringLiteral("password_enc"));
    SaveFolder = ini.ReadString(SaveSection, QStringLiteral("folder"), SaveFolder);
    AutoSave = ini.ReadBool(SaveSection, QStringLiteral("auto_save"), AutoSave);
    AutoConnect = ini.ReadBool(App, QStringLiteral("auto_connect"), AutoConnect);
    RunAtStartup = ini.ReadBool(App, QStringLiteral("run_at_startup"), RunAtStartup);
}

void TAppSettings::Save() {
    QDir().mkpath(ConfigDir());
    TIniFile ini = ReadIni(true);
    ini.WriteString(Server, QStringLiteral("url"), ServerUrl);
    ini.EraseSection(Auth);
    ini.WriteString(Auth, QStringLiteral("email"), Email);
    // An unchanged password is written back as stored: no key needed.
    QString stored = StoredPassword;
    bool opened = FPasswordOpened;
    if (!Password.isEmpty() && !(opened && Password == FOpenedTo)) {
        stored = DpapiProtect(Password);
        opened = true;
    } else if (Password.isEmpty() && opened) {
        stored.clear(); // cleared by the user
    }
    if (!stored.isEmpty())
        ini.WriteString(Auth, QStringLiteral("password_enc"), stored);
    else
        ini.DeleteKey(Auth, QStringLiteral("password_enc"));
    ini.WriteString(SaveSection, QStringLiteral("folder"), SaveFolder);
    ini.WriteBool(SaveSection, QStringLiteral("auto_save"), AutoSave);
    ini.WriteBool(App, QStringLiteral("auto_connect"), AutoConnect);
    ini.WriteBool(App, QStringLiteral("run_at_startup"), RunAtStartup);

    // A temporary file beside the old one, then a rename: a crash or a full disk
    // never leaves half a settings file behind.
    QSaveFile file(IniPath());
    const QByteArray bytes = ini.Serialize();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw TAppError(file.errorString());
    StoredPassword = stored;
    FPasswordOpened = opened && !stored.isEmpty();
    FOpenedTo = FPasswordOpened ? Password : QString();
    if (FPasswordOpened)
        PasswordError.clear();
}

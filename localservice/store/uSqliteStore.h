#pragma once
// The service's store in one SQLite database, "scanlume-local.db" in the data folder, in WAL
// mode with every commit synced: an item whose sender got its success answer survives a crash
// of the program or of the machine.
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "store/uBodyFiles.h"
#include "store/uServiceStore.h"

struct sqlite3;

class TSqliteStore final : public TServiceStore {
public:
    static constexpr const char* kFileName = "scanlume-local.db";
    // Bodies up to this size stay in their row; larger ones are files of their own.
    static constexpr size_t kLargestRowBody = 64 * 1024;

    enum class TUse {
        // The running service: holds the folder's lock, so that a second service cannot hand
        // out the same items, and copies the log into the database in the background.
        Service,
        // The account and backup commands, which may run beside the service.
        Admin,
    };

    // Opens the database in AFolder, making the folder (mode 0700) and the database when they
    // do not exist yet. Nothing, with a message in AError, when it cannot.
    static std::unique_ptr<TSqliteStore> Open(const std::string& AFolder, TUse AUse,
                                              std::string& AError);
    ~TSqliteStore() override;

    TSqliteStore(const TSqliteStore&) = delete;
    TSqliteStore& operator=(const TSqliteStore&) = delete;

    std::optional<std::int64_t> AddItem(const std::string& AAccount, const std::string& AFilename,
                                        const std::string& AContentType,
                                        std::string_view ABody) override;
    std::optional<std::string> ItemBody(std::int64_t AId) override;
    bool RemoveItem(std::int64_t AId) override;
    std::optional<std::vector<TStoredItem>> WaitingItems() override;

    std::optional<TSavedExtractItems> ExtractItems(const std::string& AAccount) override;
    bool SetExtractItems(const std::string& AAccount,
                         const std::vector<TExtractItem>& AItems) override;

    std::optional<TStoredAccount> FindAccount(const std::string& AEmail) override;
    std::optional<std::vector<TStoredAccount>> Accounts() override;
    bool AddAccount(const std::string& AEmail, const std::string& APasswordHash) override;
    bool SetPasswordHash(const std::string& AEmail, const std::string& APasswordHash) override;
    bool RemoveAccount(const std::string& AEmail) override;

    // A consistent copy of the whole database in AFile while the service goes on using it,
    // the waiting items' bodies in it too: one file that, put in a data folder as
    // "scanlume-local.db", is the service's store again. The copy appears under its name only
    // once it is complete.
    bool Backup(const std::string& AFile, std::string& AError);

    const std::string& Folder() const { return FFolder; }

private:
    class TConnection;
    class TLease;

    TSqliteStore(std::string AFolder, TUse AUse);
    // A connection of the pool for this thread's call; each connection serves one thread at a
    // time and keeps its prepared statements.
    TLease Lease();
    std::unique_ptr<TConnection> Connect(std::string& AError) const;
    void Written();
    bool TakeBodiesIntoCopy(sqlite3* ACopy) const;
    void CopyLogInBackground();

    const std::string FFolder;
    const TUse FUse;
    const TBodyFiles FBodies;
    int FLockFile = -1;

    std::mutex FPoolLock;
    std::vector<std::unique_ptr<TConnection>> FIdle;

    // Service use: commits do not copy the log into the database themselves (with a phone's
    // photo that would double every upload's writing); this thread does it after them.
    std::mutex FCopyLock;
    std::condition_variable FCopyWake;
    bool FCopyPending = false;
    bool FStopping = false;
    std::thread FCopier;
};

// /var/lib/scanlume-local for the system service's user "scanlume-local"; otherwise
// $XDG_DATA_HOME/scanlume-local, else ~/.local/share/scanlume-local; empty when there is no
// home folder to put it in.
std::string DefaultDataFolder();

#include "store/uSqliteStore.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>

#include <fcntl.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kSchemaVersion = 1;

// Each statement's text is its own key in a connection's cache of prepared statements.
constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS accounts (
    email TEXT PRIMARY KEY COLLATE NOCASE,
    password_hash TEXT NOT NULL,
    added TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%SZ', 'now'))
);
CREATE TABLE IF NOT EXISTS items (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    account TEXT NOT NULL,
    filename TEXT NOT NULL,
    content_type TEXT NOT NULL,
    size INTEGER NOT NULL,
    -- A small body in the row; a large one in a file of its own in "items", named here.
    body BLOB,
    body_file TEXT,
    received TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%SZ', 'now'))
);
CREATE TABLE IF NOT EXISTS extraction_lists (
    account TEXT PRIMARY KEY COLLATE NOCASE
);
CREATE TABLE IF NOT EXISTS extraction_items (
    account TEXT NOT NULL COLLATE NOCASE REFERENCES extraction_lists(account) ON DELETE CASCADE,
    position INTEGER NOT NULL,
    name TEXT NOT NULL,
    PRIMARY KEY (account, position)
);
CREATE TABLE IF NOT EXISTS extraction_aliases (
    account TEXT NOT NULL COLLATE NOCASE,
    position INTEGER NOT NULL,
    alias_position INTEGER NOT NULL,
    alias TEXT NOT NULL,
    PRIMARY KEY (account, position, alias_position),
    FOREIGN KEY (account, position) REFERENCES extraction_items(account, position)
        ON DELETE CASCADE
);
)";

constexpr const char* kAddItem = "INSERT INTO items (account, filename, content_type, size, body, "
                                 "body_file) VALUES (?, ?, ?, ?, ?, ?)";
constexpr const char* kItemBody = "SELECT body, body_file FROM items WHERE id = ?";
constexpr const char* kRemoveItem = "DELETE FROM items WHERE id = ? RETURNING body_file";
constexpr const char* kBodyFiles = "SELECT body_file FROM items WHERE body_file IS NOT NULL";
constexpr const char* kAccountBodyFiles =
    "SELECT body_file FROM items WHERE account = ? COLLATE NOCASE AND body_file IS NOT NULL";
constexpr const char* kWaitingItems =
    "SELECT id, account, filename, content_type, size FROM items ORDER BY id";
constexpr const char* kHasList = "SELECT 1 FROM extraction_lists WHERE account = ?";
constexpr const char* kListItems =
    "SELECT position, name FROM extraction_items WHERE account = ? ORDER BY position";
constexpr const char* kListAliases = "SELECT position, alias FROM extraction_aliases "
                                     "WHERE account = ? ORDER BY position, alias_position";
constexpr const char* kRemoveList = "DELETE FROM extraction_lists WHERE account = ?";
constexpr const char* kAddList = "INSERT INTO extraction_lists (account) VALUES (?)";
constexpr const char* kAddListItem =
    "INSERT INTO extraction_items (account, position, name) VALUES (?, ?, ?)";
constexpr const char* kAddAlias = "INSERT INTO extraction_aliases "
                                  "(account, position, alias_position, alias) VALUES (?, ?, ?, ?)";
constexpr const char* kFindAccount = "SELECT email, password_hash FROM accounts WHERE email = ?";
constexpr const char* kAllAccounts = "SELECT email, password_hash FROM accounts ORDER BY email";
constexpr const char* kAddAccount = "INSERT INTO accounts (email, password_hash) VALUES (?, ?)";
constexpr const char* kSetHash = "UPDATE accounts SET password_hash = ? WHERE email = ?";
constexpr const char* kRemoveAccount = "DELETE FROM accounts WHERE email = ?";
constexpr const char* kRemoveAccountItems = "DELETE FROM items WHERE account = ? COLLATE NOCASE";

std::string ColumnText(sqlite3_stmt* AStatement, int AColumn) {
    const auto* Text = sqlite3_column_text(AStatement, AColumn);
    return Text == nullptr
               ? std::string()
               : std::string(reinterpret_cast<const char*>(Text),
                             static_cast<size_t>(sqlite3_column_bytes(AStatement, AColumn)));
}

} // namespace

// One SQLite connection and its prepared statements.
class TSqliteStore::TConnection {
public:
    // AOwned: closed with this object.
    explicit TConnection(sqlite3* ADb, bool AOwned = true) : FDb(ADb), FOwned(AOwned) {}
    ~TConnection() {
        for (auto& Entry : FStatements) {
            sqlite3_finalize(Entry.second);
        }
        if (FOwned) {
            sqlite3_close(FDb);
        }
    }
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;

    sqlite3* Db() const { return FDb; }

    // A prepared statement, reset and without bindings; nothing when it cannot be prepared.
    sqlite3_stmt* Statement(const char* ASql) {
        auto It = FStatements.find(ASql);
        if (It == FStatements.end()) {
            sqlite3_stmt* Statement = nullptr;
            if (sqlite3_prepare_v3(FDb, ASql, -1, SQLITE_PREPARE_PERSISTENT, &Statement, nullptr) !=
                SQLITE_OK) {
                Report(ASql);
                return nullptr;
            }
            It = FStatements.emplace(ASql, Statement).first;
        }
        sqlite3_reset(It->second);
        sqlite3_clear_bindings(It->second);
        return It->second;
    }

    // Runs one statement that returns no rows, with the texts as its parameters.
    bool Run(const char* ASql, std::initializer_list<std::string_view> AParams = {}) {
        sqlite3_stmt* Statement = this->Statement(ASql);
        if (Statement == nullptr) {
            return false;
        }
        int Index = 0;
        for (const std::string_view Param : AParams) {
            sqlite3_bind_text(Statement, ++Index, Param.data(), static_cast<int>(Param.size()),
                              SQLITE_STATIC);
        }
        const int Result = sqlite3_step(Statement);
        sqlite3_reset(Statement);
        if (Result != SQLITE_DONE) {
            Report(ASql);
            return false;
        }
        return true;
    }

    // Several statements without parameters (the schema, transactions).
    bool Execute(const char* ASql) {
        char* Message = nullptr;
        if (sqlite3_exec(FDb, ASql, nullptr, nullptr, &Message) != SQLITE_OK) {
            std::cerr << "scanlume-local: database: " << (Message ? Message : "error") << "\n";
            sqlite3_free(Message);
            return false;
        }
        return true;
    }

    void Report(const char* ASql) const {
        std::cerr << "scanlume-local: database: " << sqlite3_errmsg(FDb) << " (in \""
                  << std::string_view(ASql).substr(0, 40) << "…\")\n";
    }

private:
    sqlite3* FDb;
    const bool FOwned;
    std::map<const char*, sqlite3_stmt*> FStatements;
};

// A connection taken from the pool for one call, given back at its end.
class TSqliteStore::TLease {
public:
    TLease(TSqliteStore& AStore, std::unique_ptr<TConnection> AConnection)
        : FStore(AStore), FConnection(std::move(AConnection)) {}
    ~TLease() {
        if (FConnection) {
            std::lock_guard Guard(FStore.FPoolLock);
            FStore.FIdle.push_back(std::move(FConnection));
        }
    }
    TLease(const TLease&) = delete;
    TLease& operator=(const TLease&) = delete;

    explicit operator bool() const { return FConnection != nullptr; }
    TConnection* operator->() const { return FConnection.get(); }

private:
    TSqliteStore& FStore;
    std::unique_ptr<TConnection> FConnection;
};

namespace {

// A transaction that is rolled back unless committed.
class TTransaction {
public:
    explicit TTransaction(sqlite3* ADb) : FDb(ADb) {
        // IMMEDIATE: the write lock now, so that the transaction never fails half-way on a
        // lock another connection took meanwhile.
        FOpen = sqlite3_exec(FDb, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
        if (!FOpen) {
            std::cerr << "scanlume-local: database: " << sqlite3_errmsg(FDb) << "\n";
        }
    }
    ~TTransaction() {
        if (FOpen) {
            sqlite3_exec(FDb, "ROLLBACK", nullptr, nullptr, nullptr);
        }
    }
    TTransaction(const TTransaction&) = delete;
    TTransaction& operator=(const TTransaction&) = delete;

    bool IsOpen() const { return FOpen; }
    bool Commit() {
        if (sqlite3_exec(FDb, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
            std::cerr << "scanlume-local: database: " << sqlite3_errmsg(FDb) << "\n";
            return false;
        }
        FOpen = false;
        return true;
    }

private:
    sqlite3* FDb;
    bool FOpen = false;
};

} // namespace

TSqliteStore::TSqliteStore(std::string AFolder, TUse AUse)
    : FFolder(std::move(AFolder)), FUse(AUse), FBodies(FFolder + "/items") {}

TSqliteStore::~TSqliteStore() {
    if (FCopier.joinable()) {
        {
            std::lock_guard Guard(FCopyLock);
            FStopping = true;
        }
        FCopyWake.notify_all();
        FCopier.join();
    }
    if (FUse == TUse::Service) {
        // A last full copy leaves a short log behind for the next start.
        std::string Error;
        if (auto Connection = Connect(Error)) {
            sqlite3_wal_checkpoint_v2(Connection->Db(), nullptr, SQLITE_CHECKPOINT_TRUNCATE,
                                      nullptr, nullptr);
        }
    }
    FIdle.clear();
    if (FLockFile >= 0) {
        close(FLockFile);
    }
}

std::unique_ptr<TSqliteStore> TSqliteStore::Open(const std::string& AFolder, TUse AUse,
                                                 std::string& AError) {
    namespace fs = std::filesystem;
    if (AFolder.empty()) {
        AError = "no data folder (give --data DIR)";
        return nullptr;
    }
    std::error_code Code;
    if (!fs::is_directory(AFolder, Code)) {
        if (!fs::create_directories(AFolder, Code) && !fs::is_directory(AFolder)) {
            AError = "cannot make the data folder " + AFolder + ": " + Code.message();
            return nullptr;
        }
        // Patients' photos: only the service's own user reads them.
        fs::permissions(AFolder, fs::perms::owner_all, fs::perm_options::replace, Code);
    }

    std::unique_ptr<TSqliteStore> Store(new TSqliteStore(AFolder, AUse));
    if (AUse == TUse::Service) {
        const std::string LockPath = AFolder + "/scanlume-local.lock";
        Store->FLockFile = open(LockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (Store->FLockFile < 0) {
            AError = "cannot open " + LockPath + ": " + std::strerror(errno);
            return nullptr;
        }
        if (flock(Store->FLockFile, LOCK_EX | LOCK_NB) != 0) {
            AError = "the data folder " + AFolder +
                     " is in use by another scanlume-local; give each service its own --data";
            return nullptr;
        }
    }

    auto Connection = Store->Connect(AError);
    if (!Connection) {
        return nullptr;
    }
    sqlite3_stmt* Version = Connection->Statement("PRAGMA user_version");
    const int Found = Version != nullptr && sqlite3_step(Version) == SQLITE_ROW
                          ? sqlite3_column_int(Version, 0)
                          : -1;
    if (Version != nullptr) {
        sqlite3_reset(Version);
    }
    if (Found < 0 || Found > kSchemaVersion) {
        AError = Found < 0 ? "cannot read the database in " + AFolder
                           : "the database in " + AFolder +
                                 " was made by a newer scanlume-local; use that version";
        return nullptr;
    }
    if (Found < kSchemaVersion) {
        TTransaction Transaction(Connection->Db());
        if (!Transaction.IsOpen() || !Connection->Execute(kSchema) ||
            !Connection->Execute("PRAGMA user_version = 1") || !Transaction.Commit()) {
            AError = "cannot set up the database in " + AFolder;
            return nullptr;
        }
    }
    if (!Store->FBodies.Prepare(AError)) {
        return nullptr;
    }
    if (AUse == TUse::Service) {
        // A crash between writing a body's file and committing its row leaves the file alone;
        // nobody got a success answer for it.
        std::set<std::string> Kept;
        sqlite3_stmt* Files = Connection->Statement(kBodyFiles);
        int Result = SQLITE_ROW;
        while (Files != nullptr && (Result = sqlite3_step(Files)) == SQLITE_ROW) {
            Kept.insert(ColumnText(Files, 0));
        }
        if (Files == nullptr || Result != SQLITE_DONE) {
            AError = "cannot read the waiting items in " + AFolder;
            return nullptr;
        }
        sqlite3_reset(Files);
        Store->FBodies.RemoveAllBut(Kept);
    }
    Store->FIdle.push_back(std::move(Connection));
    if (AUse == TUse::Service) {
        Store->FCopier = std::thread([Raw = Store.get()] { Raw->CopyLogInBackground(); });
    }
    return Store;
}

std::unique_ptr<TSqliteStore::TConnection> TSqliteStore::Connect(std::string& AError) const {
    const std::string Path = FFolder + "/" + kFileName;
    sqlite3* Db = nullptr;
    const int Opened =
        sqlite3_open_v2(Path.c_str(), &Db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    auto Connection = std::make_unique<TConnection>(Db);
    if (Opened != SQLITE_OK) {
        AError = "cannot open " + Path + ": " + (Db ? sqlite3_errmsg(Db) : "out of memory");
        return nullptr;
    }
    sqlite3_extended_result_codes(Db, 1);
    // Another connection's write (the account commands beside the service) waits its turn.
    sqlite3_busy_timeout(Db, 10000);
    // FULL: each commit syncs the log, so that what was answered with success stays.
    const char* Settings = FUse == TUse::Service ? "PRAGMA journal_mode = WAL;"
                                                   "PRAGMA synchronous = FULL;"
                                                   "PRAGMA foreign_keys = ON;"
                                                   "PRAGMA wal_autocheckpoint = 0;"
                                                   "PRAGMA journal_size_limit = 67108864;"
                                                 : "PRAGMA journal_mode = WAL;"
                                                   "PRAGMA synchronous = FULL;"
                                                   "PRAGMA foreign_keys = ON;";
    char* Message = nullptr;
    if (sqlite3_exec(Db, Settings, nullptr, nullptr, &Message) != SQLITE_OK) {
        AError = "cannot use " + Path + ": " + (Message ? Message : sqlite3_errmsg(Db));
        sqlite3_free(Message);
        return nullptr;
    }
    return Connection;
}

TSqliteStore::TLease TSqliteStore::Lease() {
    {
        std::lock_guard Guard(FPoolLock);
        if (!FIdle.empty()) {
            auto Connection = std::move(FIdle.back());
            FIdle.pop_back();
            return TLease(*this, std::move(Connection));
        }
    }
    std::string Error;
    auto Connection = Connect(Error);
    if (!Connection) {
        std::cerr << "scanlume-local: " << Error << "\n";
    }
    return TLease(*this, std::move(Connection));
}

void TSqliteStore::Written() {
    if (FUse != TUse::Service) {
        return;
    }
    {
        std::lock_guard Guard(FCopyLock);
        FCopyPending = true;
    }
    FCopyWake.notify_one();
}

void TSqliteStore::CopyLogInBackground() {
    std::string Error;
    const auto Connection = Connect(Error);
    if (!Connection) {
        std::cerr << "scanlume-local: " << Error << "\n";
        return;
    }
    std::unique_lock Guard(FCopyLock);
    while (true) {
        FCopyWake.wait(Guard, [this] { return FCopyPending || FStopping; });
        if (FStopping) {
            return;
        }
        FCopyPending = false;
        Guard.unlock();
        // PASSIVE: never waits for readers or writers; what it cannot copy now, the next
        // round copies.
        sqlite3_wal_checkpoint_v2(Connection->Db(), nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr,
                                  nullptr);
        Guard.lock();
    }
}

std::optional<std::int64_t> TSqliteStore::AddItem(const std::string& AAccount,
                                                  const std::string& AFilename,
                                                  const std::string& AContentType,
                                                  std::string_view ABody) {
    const TLease Connection = Lease();
    sqlite3_stmt* Statement = Connection ? Connection->Statement(kAddItem) : nullptr;
    if (Statement == nullptr) {
        return std::nullopt;
    }
    // The file is on disk before the row that names it.
    std::optional<std::string> File;
    if (ABody.size() > kLargestRowBody) {
        File = FBodies.Write(ABody);
        if (!File) {
            return std::nullopt;
        }
    }
    sqlite3_bind_text(Statement, 1, AAccount.data(), static_cast<int>(AAccount.size()),
                      SQLITE_STATIC);
    sqlite3_bind_text(Statement, 2, AFilename.data(), static_cast<int>(AFilename.size()),
                      SQLITE_STATIC);
    sqlite3_bind_text(Statement, 3, AContentType.data(), static_cast<int>(AContentType.size()),
                      SQLITE_STATIC);
    sqlite3_bind_int64(Statement, 4, static_cast<sqlite3_int64>(ABody.size()));
    if (File) {
        sqlite3_bind_text(Statement, 6, File->data(), static_cast<int>(File->size()),
                          SQLITE_STATIC);
    } else if (ABody.empty()) {
        // An empty body must still be a blob, not NULL.
        sqlite3_bind_zeroblob(Statement, 5, 0);
    } else {
        sqlite3_bind_blob64(Statement, 5, ABody.data(), ABody.size(), SQLITE_STATIC);
    }
    const int Result = sqlite3_step(Statement);
    sqlite3_reset(Statement);
    sqlite3_clear_bindings(Statement);
    if (Result != SQLITE_DONE) {
        Connection->Report(kAddItem);
        if (File) {
            FBodies.Remove(*File);
        }
        return std::nullopt;
    }
    const std::int64_t Id = sqlite3_last_insert_rowid(Connection->Db());
    Written();
    return Id;
}

std::optional<std::string> TSqliteStore::ItemBody(std::int64_t AId) {
    std::optional<std::string> Body;
    std::string File;
    {
        const TLease Connection = Lease();
        sqlite3_stmt* Statement = Connection ? Connection->Statement(kItemBody) : nullptr;
        if (Statement == nullptr) {
            return std::nullopt;
        }
        sqlite3_bind_int64(Statement, 1, AId);
        if (sqlite3_step(Statement) == SQLITE_ROW) {
            File = ColumnText(Statement, 1);
            const void* Data = sqlite3_column_blob(Statement, 0);
            const int Size = sqlite3_column_bytes(Statement, 0);
            Body.emplace(Data == nullptr ? std::string()
                                         : std::string(static_cast<const char*>(Data),
                                                       static_cast<size_t>(Size)));
        } else {
            Connection->Report(kItemBody);
        }
        sqlite3_reset(Statement);
    }
    // Read without holding a connection.
    return Body && !File.empty() ? FBodies.Read(File) : Body;
}

bool TSqliteStore::RemoveItem(std::int64_t AId) {
    std::string File;
    {
        const TLease Connection = Lease();
        sqlite3_stmt* Statement = Connection ? Connection->Statement(kRemoveItem) : nullptr;
        if (Statement == nullptr) {
            return false;
        }
        sqlite3_bind_int64(Statement, 1, AId);
        int Result = SQLITE_ROW;
        while ((Result = sqlite3_step(Statement)) == SQLITE_ROW) {
            File = ColumnText(Statement, 0);
        }
        sqlite3_reset(Statement);
        if (Result != SQLITE_DONE) {
            Connection->Report(kRemoveItem);
            return false;
        }
    }
    // After the commit: a crash in between leaves a file without a row, which the next start
    // removes.
    if (!File.empty()) {
        FBodies.Remove(File);
    }
    Written();
    return true;
}

std::optional<std::vector<TStoredItem>> TSqliteStore::WaitingItems() {
    const TLease Connection = Lease();
    sqlite3_stmt* Statement = Connection ? Connection->Statement(kWaitingItems) : nullptr;
    if (Statement == nullptr) {
        return std::nullopt;
    }
    std::vector<TStoredItem> Items;
    int Result = SQLITE_ROW;
    while ((Result = sqlite3_step(Statement)) == SQLITE_ROW) {
        Items.push_back({sqlite3_column_int64(Statement, 0), ColumnText(Statement, 1),
                         ColumnText(Statement, 2), ColumnText(Statement, 3),
                         static_cast<std::uint64_t>(sqlite3_column_int64(Statement, 4))});
    }
    sqlite3_reset(Statement);
    if (Result != SQLITE_DONE) {
        Connection->Report(kWaitingItems);
        return std::nullopt;
    }
    return Items;
}

std::optional<TSavedExtractItems> TSqliteStore::ExtractItems(const std::string& AAccount) {
    const TLease Connection = Lease();
    if (!Connection) {
        return std::nullopt;
    }
    const auto Query = [&](const char* ASql, auto&& AEachRow) {
        sqlite3_stmt* Statement = Connection->Statement(ASql);
        if (Statement == nullptr) {
            return false;
        }
        sqlite3_bind_text(Statement, 1, AAccount.data(), static_cast<int>(AAccount.size()),
                          SQLITE_STATIC);
        int Result = SQLITE_ROW;
        while ((Result = sqlite3_step(Statement)) == SQLITE_ROW) {
            AEachRow(Statement);
        }
        sqlite3_reset(Statement);
        if (Result != SQLITE_DONE) {
            Connection->Report(ASql);
            return false;
        }
        return true;
    };
    // One read transaction: a list saved meanwhile is seen whole or not at all.
    if (!Connection->Execute("BEGIN")) {
        return std::nullopt;
    }
    TSavedExtractItems Found;
    std::map<int, size_t> ByPosition;
    bool Ok = Query(kHasList, [&](sqlite3_stmt*) { Found.Saved = true; });
    if (Ok && Found.Saved) {
        Ok = Query(kListItems,
                   [&](sqlite3_stmt* AStatement) {
                       ByPosition[sqlite3_column_int(AStatement, 0)] = Found.Items.size();
                       Found.Items.push_back({ColumnText(AStatement, 1), {}});
                   }) &&
             Query(kListAliases, [&](sqlite3_stmt* AStatement) {
                 const auto It = ByPosition.find(sqlite3_column_int(AStatement, 0));
                 if (It != ByPosition.end()) {
                     Found.Items[It->second].Aliases.push_back(ColumnText(AStatement, 1));
                 }
             });
    }
    Connection->Execute("COMMIT");
    if (!Ok) {
        return std::nullopt;
    }
    return Found;
}

bool TSqliteStore::SetExtractItems(const std::string& AAccount,
                                   const std::vector<TExtractItem>& AItems) {
    const TLease Connection = Lease();
    if (!Connection) {
        return false;
    }
    TTransaction Transaction(Connection->Db());
    if (!Transaction.IsOpen() || !Connection->Run(kRemoveList, {AAccount}) ||
        !Connection->Run(kAddList, {AAccount})) {
        return false;
    }
    for (size_t Position = 0; Position < AItems.size(); ++Position) {
        const std::string Index = std::to_string(Position);
        if (!Connection->Run(kAddListItem, {AAccount, Index, AItems[Position].Name})) {
            return false;
        }
        const auto& Aliases = AItems[Position].Aliases;
        for (size_t Alias = 0; Alias < Aliases.size(); ++Alias) {
            if (!Connection->Run(kAddAlias,
                                 {AAccount, Index, std::to_string(Alias), Aliases[Alias]})) {
                return false;
            }
        }
    }
    if (!Transaction.Commit()) {
        return false;
    }
    Written();
    return true;
}

std::optional<TStoredAccount> TSqliteStore::FindAccount(const std::string& AEmail) {
    const TLease Connection = Lease();
    sqlite3_stmt* Statement = Connection ? Connection->Statement(kFindAccount) : nullptr;
    if (Statement == nullptr) {
        return std::nullopt;
    }
    sqlite3_bind_text(Statement, 1, AEmail.data(), static_cast<int>(AEmail.size()), SQLITE_STATIC);
    std::optional<TStoredAccount> Account;
    const int Result = sqlite3_step(Statement);
    if (Result == SQLITE_ROW) {
        Account = TStoredAccount{ColumnText(Statement, 0), ColumnText(Statement, 1)};
    } else if (Result != SQLITE_DONE) {
        Connection->Report(kFindAccount);
    }
    sqlite3_reset(Statement);
    return Account;
}

std::optional<std::vector<TStoredAccount>> TSqliteStore::Accounts() {
    const TLease Connection = Lease();
    sqlite3_stmt* Statement = Connection ? Connection->Statement(kAllAccounts) : nullptr;
    if (Statement == nullptr) {
        return std::nullopt;
    }
    std::vector<TStoredAccount> Accounts;
    int Result = SQLITE_ROW;
    while ((Result = sqlite3_step(Statement)) == SQLITE_ROW) {
        Accounts.push_back({ColumnText(Statement, 0), ColumnText(Statement, 1)});
    }
    sqlite3_reset(Statement);
    if (Result != SQLITE_DONE) {
        Connection->Report(kAllAccounts);
        return std::nullopt;
    }
    return Accounts;
}

bool TSqliteStore::AddAccount(const std::string& AEmail, const std::string& APasswordHash) {
    const TLease Connection = Lease();
    return Connection && Connection->Run(kAddAccount, {AEmail, APasswordHash});
}

bool TSqliteStore::SetPasswordHash(const std::string& AEmail, const std::string& APasswordHash) {
    const TLease Connection = Lease();
    return Connection && Connection->Run(kSetHash, {APasswordHash, AEmail}) &&
           sqlite3_changes(Connection->Db()) == 1;
}

bool TSqliteStore::RemoveAccount(const std::string& AEmail) {
    const TLease Connection = Lease();
    if (!Connection) {
        return false;
    }
    TTransaction Transaction(Connection->Db());
    if (!Transaction.IsOpen() || !Connection->Run(kRemoveAccount, {AEmail})) {
        return false;
    }
    const bool Existed = sqlite3_changes(Connection->Db()) == 1;
    std::vector<std::string> Files;
    sqlite3_stmt* Listed = Existed ? Connection->Statement(kAccountBodyFiles) : nullptr;
    if (Listed == nullptr) {
        return false;
    }
    sqlite3_bind_text(Listed, 1, AEmail.data(), static_cast<int>(AEmail.size()), SQLITE_STATIC);
    int Result = SQLITE_ROW;
    while ((Result = sqlite3_step(Listed)) == SQLITE_ROW) {
        Files.push_back(ColumnText(Listed, 0));
    }
    sqlite3_reset(Listed);
    if (Result != SQLITE_DONE || !Connection->Run(kRemoveAccountItems, {AEmail}) ||
        !Connection->Run(kRemoveList, {AEmail}) || !Transaction.Commit()) {
        return false;
    }
    for (const std::string& File : Files) {
        FBodies.Remove(File);
    }
    Written();
    return true;
}

// The copy holds the waiting items' bodies in their rows, so that it is one file. An item
// handed over since the copy was taken has no file any more and leaves the copy too.
bool TSqliteStore::TakeBodiesIntoCopy(sqlite3* ACopy) const {
    TConnection Copy(ACopy, false);
    TTransaction Transaction(ACopy);
    sqlite3_stmt* Listed = Transaction.IsOpen() ? Copy.Statement("SELECT id, body_file FROM items "
                                                                 "WHERE body_file IS NOT NULL")
                                                : nullptr;
    std::vector<std::pair<std::int64_t, std::string>> Files;
    int Result = SQLITE_ROW;
    while (Listed != nullptr && (Result = sqlite3_step(Listed)) == SQLITE_ROW) {
        Files.emplace_back(sqlite3_column_int64(Listed, 0), ColumnText(Listed, 1));
    }
    bool Ok = Listed != nullptr && Result == SQLITE_DONE;
    for (const auto& [Id, File] : Files) {
        if (!Ok) {
            break;
        }
        const auto Body = FBodies.Read(File);
        sqlite3_stmt* Statement =
            Copy.Statement(Body ? "UPDATE items SET body = ?, body_file = NULL WHERE id = ?"
                                : "DELETE FROM items WHERE id = ?2");
        if (Statement == nullptr) {
            Ok = false;
            break;
        }
        if (Body) {
            sqlite3_bind_blob64(Statement, 1, Body->data(), Body->size(), SQLITE_TRANSIENT);
        }
        sqlite3_bind_int64(Statement, 2, Id);
        Ok = sqlite3_step(Statement) == SQLITE_DONE;
        sqlite3_reset(Statement);
    }
    return Ok && Transaction.Commit();
}

bool TSqliteStore::Backup(const std::string& AFile, std::string& AError) {
    const TLease Connection = Lease();
    if (!Connection) {
        AError = "cannot open the database in " + FFolder;
        return false;
    }
    const std::string Part = AFile + ".part";
    std::remove(Part.c_str());
    sqlite3* Copy = nullptr;
    if (sqlite3_open_v2(Part.c_str(), &Copy, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        AError = "cannot write " + Part + ": " + (Copy ? sqlite3_errmsg(Copy) : "out of memory");
        sqlite3_close(Copy);
        return false;
    }
    // The online backup copies a page range at a time and starts again when the service
    // writes meanwhile, so the copy is always of one moment.
    sqlite3_backup* Backup = sqlite3_backup_init(Copy, "main", Connection->Db(), "main");
    int Result = SQLITE_OK;
    if (Backup != nullptr) {
        do {
            Result = sqlite3_backup_step(Backup, 256);
            if (Result == SQLITE_BUSY || Result == SQLITE_LOCKED) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        } while (Result == SQLITE_OK || Result == SQLITE_BUSY || Result == SQLITE_LOCKED);
        sqlite3_backup_finish(Backup);
    }
    const bool Copied = Backup != nullptr && Result == SQLITE_DONE &&
                        sqlite3_exec(Copy, "PRAGMA journal_mode = DELETE", nullptr, nullptr,
                                     nullptr) == SQLITE_OK &&
                        TakeBodiesIntoCopy(Copy);
    if (!Copied) {
        AError = std::string("cannot copy the database: ") + sqlite3_errmsg(Copy);
    }
    sqlite3_close(Copy);
    if (Copied) {
        // The copy on disk before it takes the name.
        const int Fd = open(Part.c_str(), O_RDONLY | O_CLOEXEC);
        const bool Synced = Fd >= 0 && fsync(Fd) == 0;
        if (Fd >= 0) {
            close(Fd);
        }
        if (Synced && std::rename(Part.c_str(), AFile.c_str()) == 0) {
            return true;
        }
        AError = "cannot write " + AFile + ": " + std::strerror(errno);
    }
    std::remove(Part.c_str());
    return false;
}

std::string DefaultDataFolder() {
    // The system service's own user, as whom the account commands are run for it.
    if (const passwd* User = getpwuid(geteuid());
        User != nullptr && std::string_view(User->pw_name) == "scanlume-local") {
        return "/var/lib/scanlume-local";
    }
    if (const char* Data = std::getenv("XDG_DATA_HOME"); Data != nullptr && Data[0] == '/') {
        return std::string(Data) + "/scanlume-local";
    }
    if (const char* Home = std::getenv("HOME"); Home != nullptr && Home[0] != '\0') {
        return std::string(Home) + "/.local/share/scanlume-local";
    }
    return {};
}

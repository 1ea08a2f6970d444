#pragma once
// What the service keeps across restarts: the items that wait for receivers (their bodies
// too), each account's extraction items, and the accounts. The HTTP side sees only this
// interface; SQLite is the embedded implementation, and a shared database server for a group
// of clinics would be another one.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "extraction/uCatalog.h"

// An item as it waits: everything but its body, which stays in the store until it is handed
// over.
struct TStoredItem {
    std::int64_t Id = 0; // increasing in the order the items were stored
    std::string Account;
    std::string Filename;
    std::string ContentType;
    std::uint64_t Size = 0;
};

struct TSavedExtractItems {
    bool Saved = false;
    std::vector<TExtractItem> Items;
};

struct TStoredAccount {
    std::string Email;        // as it was added
    std::string PasswordHash; // Argon2id, in libsodium's string form
};

// Every call is safe from any thread. A call that fails returns false or nothing and leaves
// the stored state as it was; the store reports the cause on standard error.
class TServiceStore {
public:
    virtual ~TServiceStore() = default;

    // Durable when it returns: a crash of the program or of the machine afterwards keeps the
    // item. Returns the item's id.
    virtual std::optional<std::int64_t> AddItem(const std::string& AAccount,
                                                const std::string& AFilename,
                                                const std::string& AContentType,
                                                std::string_view ABody) = 0;
    virtual std::optional<std::string> ItemBody(std::int64_t AId) = 0;
    virtual bool RemoveItem(std::int64_t AId) = 0;
    // Every waiting item of every account, oldest first.
    virtual std::optional<std::vector<TStoredItem>> WaitingItems() = 0;

    // The account's own list, or Saved false when it never saved one; nothing on failure.
    virtual std::optional<TSavedExtractItems> ExtractItems(const std::string& AAccount) = 0;
    virtual bool SetExtractItems(const std::string& AAccount,
                                 const std::vector<TExtractItem>& AItems) = 0;

    // E-mail addresses are compared without regard to ASCII case.
    virtual std::optional<TStoredAccount> FindAccount(const std::string& AEmail) = 0;
    virtual std::optional<std::vector<TStoredAccount>> Accounts() = 0;
    // False when the address is taken already (or the store failed).
    virtual bool AddAccount(const std::string& AEmail, const std::string& APasswordHash) = 0;
    // False when there is no such account (or the store failed).
    virtual bool SetPasswordHash(const std::string& AEmail, const std::string& APasswordHash) = 0;
    // Removes the account, its extraction items and the items that wait for it.
    virtual bool RemoveAccount(const std::string& AEmail) = 0;
};

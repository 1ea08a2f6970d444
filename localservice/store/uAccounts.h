#pragma once
// The accounts, those kept in the store and those given on the command line for trials, and
// the bearer tokens issued to them.
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "store/uServiceStore.h"

struct TAccount {
    std::string Email;
    std::string Password;
};

// A token lapses when it has not been used for 12 hours, and an account holds at most 256: a
// new sign-in beyond that drops the one used longest ago. Memory stays bounded however often
// receivers and phones sign in.
class TAccounts {
public:
    using TClock = std::chrono::steady_clock;
    static constexpr std::chrono::hours kTokenIdleLimit{12};
    static constexpr size_t kTokensPerAccount = 256;

    // ATrialAccounts keep their passwords in clear: the command line's accounts for trials and
    // tests. AStore, when given, holds the clinic's accounts.
    explicit TAccounts(std::vector<TAccount> ATrialAccounts, TServiceStore* AStore = nullptr);

    // A new token for the account, or nothing when the e-mail address or password is wrong.
    // The address is compared without regard to ASCII case, the password exactly.
    std::optional<std::string> Login(const std::string& AEmail, const std::string& APassword,
                                     TClock::time_point ANow = TClock::now());

    // The account's e-mail address as configured, or nothing for an unknown or lapsed token.
    // Using a token keeps it alive. A stored account's tokens end when the account is removed
    // or its password changed, even while the service runs.
    std::optional<std::string> AccountOf(const std::string& AToken,
                                         TClock::time_point ANow = TClock::now());

    size_t TokenCount() const;

private:
    struct TToken {
        std::string Email;
        TClock::time_point LastUsed;
        // For a stored account: the hash its password had at the sign-in.
        std::optional<std::string> PasswordHash;
    };
    std::string NewTokenFor(const std::string& AEmail, std::optional<std::string> APasswordHash,
                            TClock::time_point ANow);
    void DropLapsed(TClock::time_point ANow);

    std::vector<TAccount> FTrialAccounts;
    TServiceStore* FStore;
    // One hash at a time: each takes 64 MiB, and parallel guesses must not take them all.
    std::mutex FVerifyLock;
    mutable std::mutex FLock;
    std::unordered_map<std::string, TToken> FTokens;
    TClock::time_point FLastSweep{};
};

// Splits "EMAIL:PASSWORD" at the first colon; false when there is none or the address is empty.
bool ParseAccount(const std::string& AText, TAccount& AAccount);

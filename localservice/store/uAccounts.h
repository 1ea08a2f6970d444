#pragma once
// Accounts given on the command line and the bearer tokens issued to them.
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

struct TAccount {
    std::string Email;
    std::string Password;
};

class TAccounts {
public:
    explicit TAccounts(std::vector<TAccount> AAccounts);

    // A new token for the account, or nothing when the e-mail address or password is wrong.
    // The address is compared without regard to ASCII case, the password exactly.
    std::optional<std::string> Login(const std::string& AEmail, const std::string& APassword);

    // The account's e-mail address as configured, or nothing for an unknown token.
    std::optional<std::string> AccountOf(const std::string& AToken) const;

private:
    std::vector<TAccount> FAccounts;
    mutable std::mutex FLock;
    std::unordered_map<std::string, std::string> FTokens; // token -> e-mail address
};

// Splits "EMAIL:PASSWORD" at the first colon; false when there is none or the address is empty.
bool ParseAccount(const std::string& AText, TAccount& AAccount);

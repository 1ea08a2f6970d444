#include "store/uAccounts.h"

#include <algorithm>
#include <random>
#include <string_view>

namespace {

char LowerAscii(char C) {
    return (C >= 'A' && C <= 'Z') ? static_cast<char>(C - 'A' + 'a') : C;
}

// Without regard to ASCII case, and only ASCII: no locale decides who signs in. Kept here so
// that the accounts need nothing of the HTTP side.
bool SameAddress(std::string_view A, std::string_view B) {
    return std::equal(A.begin(), A.end(), B.begin(), B.end(),
                      [](char X, char Y) { return LowerAscii(X) == LowerAscii(Y); });
}

std::string NewToken() {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::random_device Random;
    std::string Token;
    for (int i = 0; i < 43; ++i) {
        Token += kAlphabet[Random() % 64];
    }
    return Token;
}

} // namespace

TAccounts::TAccounts(std::vector<TAccount> AAccounts) : FAccounts(std::move(AAccounts)) {}

std::optional<std::string> TAccounts::Login(const std::string& AEmail,
                                            const std::string& APassword) {
    for (const auto& Account : FAccounts) {
        if (SameAddress(Account.Email, AEmail) && Account.Password == APassword) {
            std::string Token = NewToken();
            std::lock_guard Guard(FLock);
            FTokens[Token] = Account.Email;
            return Token;
        }
    }
    return std::nullopt;
}

std::optional<std::string> TAccounts::AccountOf(const std::string& AToken) const {
    std::lock_guard Guard(FLock);
    const auto It = FTokens.find(AToken);
    if (It == FTokens.end()) {
        return std::nullopt;
    }
    return It->second;
}

bool ParseAccount(const std::string& AText, TAccount& AAccount) {
    const size_t Colon = AText.find(':');
    if (Colon == std::string::npos || Colon == 0) {
        return false;
    }
    AAccount.Email = AText.substr(0, Colon);
    AAccount.Password = AText.substr(Colon + 1);
    return true;
}

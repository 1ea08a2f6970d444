#include "store/uAccounts.h"

#include "store/uPasswordHash.h"

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

TAccounts::TAccounts(std::vector<TAccount> ATrialAccounts, TServiceStore* AStore)
    : FTrialAccounts(std::move(ATrialAccounts)), FStore(AStore) {}

std::optional<std::string> TAccounts::Login(const std::string& AEmail, const std::string& APassword,
                                            TClock::time_point ANow) {
    for (const auto& Account : FTrialAccounts) {
        if (SameAddress(Account.Email, AEmail) && Account.Password == APassword) {
            return NewTokenFor(Account.Email, std::nullopt, ANow);
        }
    }
    if (FStore == nullptr) {
        return std::nullopt;
    }
    const auto Stored = FStore->FindAccount(AEmail);
    if (!Stored) {
        return std::nullopt;
    }
    std::lock_guard Verifying(FVerifyLock);
    if (!VerifyPassword(Stored->PasswordHash, APassword)) {
        return std::nullopt;
    }
    return NewTokenFor(Stored->Email, Stored->PasswordHash, ANow);
}

std::string TAccounts::NewTokenFor(const std::string& AEmail,
                                   std::optional<std::string> APasswordHash,
                                   TClock::time_point ANow) {
    std::string Token = NewToken();
    std::lock_guard Guard(FLock);
    DropLapsed(ANow);
    // The account's tokens, the one used longest ago first out.
    auto Oldest = FTokens.end();
    size_t Count = 0;
    for (auto It = FTokens.begin(); It != FTokens.end(); ++It) {
        if (It->second.Email != AEmail) {
            continue;
        }
        ++Count;
        if (Oldest == FTokens.end() || It->second.LastUsed < Oldest->second.LastUsed) {
            Oldest = It;
        }
    }
    if (Count >= kTokensPerAccount) {
        FTokens.erase(Oldest);
    }
    FTokens[Token] = {AEmail, ANow, std::move(APasswordHash)};
    return Token;
}

std::optional<std::string> TAccounts::AccountOf(const std::string& AToken,
                                                TClock::time_point ANow) {
    std::unique_lock Guard(FLock);
    const auto It = FTokens.find(AToken);
    if (It == FTokens.end()) {
        return std::nullopt;
    }
    if (ANow - It->second.LastUsed > kTokenIdleLimit) {
        FTokens.erase(It);
        return std::nullopt;
    }
    It->second.LastUsed = std::max(It->second.LastUsed, ANow);
    if (!It->second.PasswordHash || FStore == nullptr) {
        return It->second.Email;
    }
    // A stored account: still there, with the same password. Looked up without the lock, so
    // that other requests need not wait for the store.
    const std::string Email = It->second.Email;
    const std::string Hash = *It->second.PasswordHash;
    Guard.unlock();
    const auto Stored = FStore->FindAccount(Email);
    if (Stored && Stored->PasswordHash == Hash) {
        return Email;
    }
    Guard.lock();
    FTokens.erase(AToken);
    return std::nullopt;
}

size_t TAccounts::TokenCount() const {
    std::lock_guard Guard(FLock);
    return FTokens.size();
}

// At most once a minute: a walk over every token, so that lapsed ones of accounts that never
// sign in again go too.
void TAccounts::DropLapsed(TClock::time_point ANow) {
    if (ANow - FLastSweep < std::chrono::minutes(1)) {
        return;
    }
    FLastSweep = ANow;
    for (auto It = FTokens.begin(); It != FTokens.end();) {
        It = ANow - It->second.LastUsed > kTokenIdleLimit ? FTokens.erase(It) : std::next(It);
    }
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

#include "store/uPasswordHash.h"

#include <sodium.h>

namespace {

bool SodiumReady() {
    static const bool Ready = sodium_init() >= 0;
    return Ready;
}

} // namespace

std::optional<std::string> HashPassword(const std::string& APassword) {
    if (!SodiumReady()) {
        return std::nullopt;
    }
    // The interactive costs (64 MiB, a fraction of a second): a sign-in stays quick on a
    // clinic's small server, and each guess still costs an attacker as much.
    char Hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str_alg(
            Hash, APassword.data(), APassword.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
            crypto_pwhash_MEMLIMIT_INTERACTIVE, crypto_pwhash_ALG_ARGON2ID13) != 0) {
        return std::nullopt;
    }
    return std::string(Hash);
}

bool VerifyPassword(const std::string& AHash, const std::string& APassword) {
    return SodiumReady() && !AHash.empty() &&
           crypto_pwhash_str_verify(AHash.c_str(), APassword.data(), APassword.size()) == 0;
}

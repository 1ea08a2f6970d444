#pragma once
// Passwords kept as Argon2id hashes in libsodium's string form (algorithm, its costs and the
// salt in the string), never in clear.
#include <optional>
#include <string>

// Nothing when libsodium cannot start or the memory for the hash is not there.
std::optional<std::string> HashPassword(const std::string& APassword);
bool VerifyPassword(const std::string& AHash, const std::string& APassword);

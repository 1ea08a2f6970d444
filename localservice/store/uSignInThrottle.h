#pragma once
// Slows down guessing a password from the clinic's network: after a few wrong passwords for one
// account, or from one address, each further attempt must wait, twice as long as the last time
// (1 s up to 15 minutes), and is answered 429 meanwhile. A right password ends the wait for its
// account and address. Sign-ins from this computer itself are never slowed: whoever sits there
// can read the accounts anyway, and the tests sign in wrongly on purpose.
#include <chrono>
#include <map>
#include <mutex>
#include <string>

class TSignInThrottle {
public:
    using TClock = std::chrono::steady_clock;
    static constexpr int kFreeFailures = 5;
    static constexpr std::chrono::seconds kLongestWait{15 * 60};
    // A record with no failure for this long is forgotten.
    static constexpr std::chrono::hours kMemory{1};
    // Records kept at most, for accounts and addresses together; the stalest go first.
    static constexpr size_t kMostRecords = 10000;

    // Seconds before another attempt for this account or from this address may be made; 0 when
    // it may be made now.
    int WaitSeconds(const std::string& AEmail, const std::string& AAddress,
                    TClock::time_point ANow = TClock::now());
    void Failed(const std::string& AEmail, const std::string& AAddress,
                TClock::time_point ANow = TClock::now());
    void Succeeded(const std::string& AEmail, const std::string& AAddress);

private:
    struct TRecord {
        int Failures = 0;
        TClock::time_point Until{};
        TClock::time_point LastFailure{};
    };
    void Count(std::map<std::string, TRecord>& ARecords, const std::string& AKey,
               TClock::time_point ANow);
    void Forget(TClock::time_point ANow);

    std::mutex FLock;
    std::map<std::string, TRecord> FAccounts; // by address, ASCII lower case
    std::map<std::string, TRecord> FAddresses;
    TClock::time_point FLastForget{};
};

// Whether a peer's address is this computer: 127.0.0.0/8, ::1 or ::ffff:127.x.x.x.
bool IsLoopbackAddress(const std::string& AAddress);

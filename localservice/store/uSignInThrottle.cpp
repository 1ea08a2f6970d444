#include "store/uSignInThrottle.h"

#include <algorithm>

namespace {

std::string Lower(std::string AText) {
    for (char& C : AText) {
        if (C >= 'A' && C <= 'Z') {
            C = static_cast<char>(C - 'A' + 'a');
        }
    }
    return AText;
}

} // namespace

bool IsLoopbackAddress(const std::string& AAddress) {
    return AAddress == "::1" || AAddress.rfind("127.", 0) == 0 ||
           AAddress.rfind("::ffff:127.", 0) == 0;
}

int TSignInThrottle::WaitSeconds(const std::string& AEmail, const std::string& AAddress,
                                 TClock::time_point ANow) {
    if (IsLoopbackAddress(AAddress)) {
        return 0;
    }
    std::lock_guard Guard(FLock);
    TClock::time_point Until{};
    if (const auto It = FAccounts.find(Lower(AEmail)); It != FAccounts.end()) {
        Until = std::max(Until, It->second.Until);
    }
    if (const auto It = FAddresses.find(AAddress); It != FAddresses.end()) {
        Until = std::max(Until, It->second.Until);
    }
    if (Until <= ANow) {
        return 0;
    }
    const auto Left = std::chrono::ceil<std::chrono::seconds>(Until - ANow);
    return static_cast<int>(std::max<long long>(1, Left.count()));
}

void TSignInThrottle::Failed(const std::string& AEmail, const std::string& AAddress,
                             TClock::time_point ANow) {
    if (IsLoopbackAddress(AAddress)) {
        return;
    }
    std::lock_guard Guard(FLock);
    Forget(ANow);
    Count(FAccounts, Lower(AEmail), ANow);
    Count(FAddresses, AAddress, ANow);
}

void TSignInThrottle::Succeeded(const std::string& AEmail, const std::string& AAddress) {
    std::lock_guard Guard(FLock);
    FAccounts.erase(Lower(AEmail));
    FAddresses.erase(AAddress);
}

void TSignInThrottle::Count(std::map<std::string, TRecord>& ARecords, const std::string& AKey,
                            TClock::time_point ANow) {
    TRecord& Record = ARecords[AKey];
    Record.LastFailure = ANow;
    if (++Record.Failures <= kFreeFailures) {
        return;
    }
    const int Doublings = std::min(Record.Failures - kFreeFailures - 1, 20);
    const auto Wait =
        std::min<std::chrono::seconds>(std::chrono::seconds(1LL << Doublings), kLongestWait);
    Record.Until = ANow + Wait;
}

void TSignInThrottle::Forget(TClock::time_point ANow) {
    if (ANow - FLastForget >= std::chrono::seconds(1)) {
        FLastForget = ANow;
        for (auto* Records : {&FAccounts, &FAddresses}) {
            std::erase_if(*Records, [&](const auto& AEntry) {
                return ANow - AEntry.second.LastFailure > kMemory && AEntry.second.Until <= ANow;
            });
        }
    }
    // A flood of made-up addresses or accounts: the stalest records make room.
    while (FAccounts.size() + FAddresses.size() >= kMostRecords) {
        auto* Records = FAccounts.size() >= FAddresses.size() ? &FAccounts : &FAddresses;
        const auto Stalest =
            std::min_element(Records->begin(), Records->end(), [](const auto& A, const auto& B) {
                return A.second.LastFailure < B.second.LastFailure;
            });
        Records->erase(Stalest);
    }
}

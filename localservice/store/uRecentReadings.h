#pragma once
// What recognition doubted in the texts it gave each account lately, so that extracting lab
// values from one of those texts, which the receiver sends back as it got it, knows which
// numbers were guesses. In memory only, for an hour, the last few texts of each account: a
// text not found here is extracted without doubts, as any text typed or pasted is.
#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "reading/uDoubtfulNumbers.h"

class TRecentReadings {
public:
    using TClock = std::chrono::steady_clock;
    static constexpr size_t kTextsPerAccount = 16;
    static constexpr std::chrono::minutes kKeptFor{60};

    void Remember(const std::string& AAccount, const std::string& AText, TDoubtfulNumbers ADoubts,
                  TClock::time_point ANow = TClock::now());
    std::optional<TDoubtfulNumbers> DoubtsOf(const std::string& AAccount, const std::string& AText,
                                             TClock::time_point ANow = TClock::now()) const;

private:
    struct TReading {
        std::string Text; // line breaks as "\n"
        TDoubtfulNumbers Doubts;
        TClock::time_point At;
    };
    mutable std::mutex FLock;
    std::map<std::string, std::deque<TReading>> FReadings;
};

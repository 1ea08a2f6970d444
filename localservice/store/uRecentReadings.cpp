#include "store/uRecentReadings.h"

#include <utility>

namespace {

// The receiver may hand the text back with CR LF; the lines are the same.
std::string WithLineFeeds(const std::string& AText) {
    std::string Out;
    Out.reserve(AText.size());
    for (size_t i = 0; i < AText.size(); ++i) {
        if (AText[i] == '\r') {
            Out += '\n';
            if (i + 1 < AText.size() && AText[i + 1] == '\n') {
                ++i;
            }
        } else {
            Out += AText[i];
        }
    }
    return Out;
}

} // namespace

void TRecentReadings::Remember(const std::string& AAccount, const std::string& AText,
                               TDoubtfulNumbers ADoubts, TClock::time_point ANow) {
    std::lock_guard Guard(FLock);
    std::deque<TReading>& Readings = FReadings[AAccount];
    while (!Readings.empty() &&
           (Readings.size() >= kTextsPerAccount || ANow - Readings.front().At > kKeptFor)) {
        Readings.pop_front();
    }
    Readings.push_back({WithLineFeeds(AText), std::move(ADoubts), ANow});
}

std::optional<TDoubtfulNumbers> TRecentReadings::DoubtsOf(const std::string& AAccount,
                                                          const std::string& AText,
                                                          TClock::time_point ANow) const {
    std::lock_guard Guard(FLock);
    const auto Found = FReadings.find(AAccount);
    if (Found == FReadings.end()) {
        return std::nullopt;
    }
    const std::string Text = WithLineFeeds(AText);
    // The newest first: the same text read twice counts as its last reading.
    for (auto It = Found->second.rbegin(); It != Found->second.rend(); ++It) {
        if (ANow - It->At <= kKeptFor && It->Text == Text) {
            return It->Doubts;
        }
    }
    return std::nullopt;
}

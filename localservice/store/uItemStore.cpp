#include "store/uItemStore.h"

std::vector<TExtractItem> TItemStore::Items(const std::string& AAccount) const {
    std::lock_guard Guard(FLock);
    const auto It = FItems.find(AAccount);
    return It == FItems.end() ? DefaultItems() : It->second;
}

void TItemStore::SetItems(const std::string& AAccount, std::vector<TExtractItem> AItems) {
    std::lock_guard Guard(FLock);
    FItems[AAccount] = std::move(AItems);
}

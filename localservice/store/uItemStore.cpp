#include "store/uItemStore.h"

std::optional<std::vector<TExtractItem>> TItemStore::Items(const std::string& AAccount) const {
    auto Found = FStore.ExtractItems(AAccount);
    if (!Found) {
        return std::nullopt;
    }
    return Found->Saved ? std::move(Found->Items) : DefaultItems();
}

bool TItemStore::SetItems(const std::string& AAccount, const std::vector<TExtractItem>& AItems) {
    return FStore.SetExtractItems(AAccount, AItems);
}

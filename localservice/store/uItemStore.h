#pragma once
// Each account's extraction items; an account that never saved any has the default eight.
#include <optional>
#include <string>
#include <vector>

#include "extraction/uCatalog.h"
#include "store/uServiceStore.h"

class TItemStore {
public:
    explicit TItemStore(TServiceStore& AStore) : FStore(AStore) {}

    // Nothing when the store cannot be read.
    std::optional<std::vector<TExtractItem>> Items(const std::string& AAccount) const;
    bool SetItems(const std::string& AAccount, const std::vector<TExtractItem>& AItems);

private:
    TServiceStore& FStore;
};

#pragma once
// Each account's extraction items; an account that never saved any has the default eight.
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "extraction/uCatalog.h"

class TItemStore {
public:
    std::vector<TExtractItem> Items(const std::string& AAccount) const;
    void SetItems(const std::string& AAccount, std::vector<TExtractItem> AItems);

private:
    mutable std::mutex FLock;
    std::map<std::string, std::vector<TExtractItem>> FItems;
};

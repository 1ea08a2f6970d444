#pragma once
// The eight items every account starts with, and the catalogue of common lab tests.
#include <string>
#include <vector>

struct TExtractItem {
    std::string Name;
    std::vector<std::string> Aliases;
};

const std::vector<TExtractItem>& DefaultItems();
const std::vector<TExtractItem>& CatalogItems();

#pragma once
// Large item bodies as files of their own in the data folder's "items" folder: SQLite writes a
// large blob page by page into its log and then again into the database, three times the cost
// of one file written and synced.
#include <optional>
#include <set>
#include <string>
#include <string_view>

class TBodyFiles {
public:
    explicit TBodyFiles(std::string AFolder) : FFolder(std::move(AFolder)) {}

    // Makes the folder (mode 0700) when it is not there.
    bool Prepare(std::string& AError) const;
    // A new file holding ABody, on disk with its name when this returns; its name, or nothing.
    std::optional<std::string> Write(std::string_view ABody) const;
    std::optional<std::string> Read(const std::string& AName) const;
    void Remove(const std::string& AName) const;
    // Removes every file but AKept: those of items that a crash left without their row.
    void RemoveAllBut(const std::set<std::string>& AKept) const;

private:
    // Only names this class makes: a path from the database never leaves the folder.
    static bool IsOwnName(const std::string& AName);

    const std::string FFolder;
};

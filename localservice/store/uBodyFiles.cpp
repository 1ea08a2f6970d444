#include "store/uBodyFiles.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <random>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr const char* kSuffix = ".item";
constexpr size_t kNameDigits = 32;

bool SyncPath(const std::string& APath, int AFlags) {
    const int Fd = open(APath.c_str(), AFlags | O_CLOEXEC);
    if (Fd < 0) {
        return false;
    }
    const bool Synced = fsync(Fd) == 0;
    close(Fd);
    return Synced;
}

} // namespace

bool TBodyFiles::Prepare(std::string& AError) const {
    namespace fs = std::filesystem;
    std::error_code Code;
    if (fs::is_directory(FFolder, Code)) {
        return true;
    }
    if (!fs::create_directory(FFolder, Code)) {
        AError = "cannot make " + FFolder + ": " + Code.message();
        return false;
    }
    fs::permissions(FFolder, fs::perms::owner_all, fs::perm_options::replace, Code);
    return true;
}

bool TBodyFiles::IsOwnName(const std::string& AName) {
    const size_t SuffixLength = std::strlen(kSuffix);
    if (AName.size() != kNameDigits + SuffixLength ||
        AName.compare(kNameDigits, SuffixLength, kSuffix) != 0) {
        return false;
    }
    for (size_t i = 0; i < kNameDigits; ++i) {
        if (std::strchr("0123456789abcdef", AName[i]) == nullptr || AName[i] == '\0') {
            return false;
        }
    }
    return true;
}

std::optional<std::string> TBodyFiles::Write(std::string_view ABody) const {
    static thread_local std::mt19937_64 Random{std::random_device{}()};
    std::string Name;
    for (size_t i = 0; i < kNameDigits; ++i) {
        Name += "0123456789abcdef"[Random() % 16];
    }
    Name += kSuffix;
    const std::string Path = FFolder + "/" + Name;
    const int Fd = open(Path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (Fd < 0) {
        std::cerr << "scanlume-local: cannot write " << Path << ": " << std::strerror(errno)
                  << "\n";
        return std::nullopt;
    }
    size_t Written = 0;
    while (Written < ABody.size()) {
        const ssize_t Count = write(Fd, ABody.data() + Written, ABody.size() - Written);
        if (Count < 0 && errno == EINTR) {
            continue;
        }
        if (Count <= 0) {
            break;
        }
        Written += static_cast<size_t>(Count);
    }
    // The file's bytes, and then its name in the folder.
    const bool Durable = Written == ABody.size() && fsync(Fd) == 0;
    const int Error = errno;
    close(Fd);
    if (!Durable || !SyncPath(FFolder, O_RDONLY | O_DIRECTORY)) {
        std::cerr << "scanlume-local: cannot write " << Path << ": "
                  << std::strerror(Durable ? errno : Error) << "\n";
        unlink(Path.c_str());
        return std::nullopt;
    }
    return Name;
}

std::optional<std::string> TBodyFiles::Read(const std::string& AName) const {
    if (!IsOwnName(AName)) {
        return std::nullopt;
    }
    const std::string Path = FFolder + "/" + AName;
    const int Fd = open(Path.c_str(), O_RDONLY | O_CLOEXEC);
    if (Fd < 0) {
        std::cerr << "scanlume-local: cannot read " << Path << ": " << std::strerror(errno) << "\n";
        return std::nullopt;
    }
    std::string Body;
    const off_t Size = lseek(Fd, 0, SEEK_END);
    if (Size > 0) {
        Body.resize(static_cast<size_t>(Size));
    }
    size_t Done = 0;
    while (Done < Body.size()) {
        const ssize_t Count =
            pread(Fd, Body.data() + Done, Body.size() - Done, static_cast<off_t>(Done));
        if (Count < 0 && errno == EINTR) {
            continue;
        }
        if (Count <= 0) {
            break;
        }
        Done += static_cast<size_t>(Count);
    }
    close(Fd);
    if (Size < 0 || Done != Body.size()) {
        std::cerr << "scanlume-local: cannot read " << Path << "\n";
        return std::nullopt;
    }
    return Body;
}

void TBodyFiles::Remove(const std::string& AName) const {
    if (IsOwnName(AName)) {
        unlink((FFolder + "/" + AName).c_str());
    }
}

void TBodyFiles::RemoveAllBut(const std::set<std::string>& AKept) const {
    std::error_code Code;
    for (const auto& Entry : std::filesystem::directory_iterator(FFolder, Code)) {
        const std::string Name = Entry.path().filename().string();
        if (IsOwnName(Name) && AKept.count(Name) == 0) {
            unlink(Entry.path().c_str());
        }
    }
}

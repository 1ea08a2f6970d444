#include "http/uServerOptions.h"

#include <charconv>

#include <arpa/inet.h>
#include <netinet/in.h>

namespace {

bool ParseNumber(const std::string& AText, int AMin, int AMax, int& AValue) {
    int Value = 0;
    const char* End = AText.data() + AText.size();
    const auto [Ptr, Error] = std::from_chars(AText.data(), End, Value);
    if (Error != std::errc() || Ptr != End || Value < AMin || Value > AMax) {
        return false;
    }
    AValue = Value;
    return true;
}

} // namespace

const char* ServerUsage() {
    return "usage: scanlume-local [--listen HOST:PORT] [--data DIR] [--user EMAIL:PASSWORD]...\n"
           "                      [--test-hooks] [--tls-cert FILE --tls-key FILE]\n"
           "                      [--max-wait SECONDS] [--max-queued-mib MIB]\n"
           "                      [--max-body-mib MIB] [--no-preload] [--quiet]\n"
           "       scanlume-local user add|passwd|remove|list [--data DIR] ...\n"
           "       scanlume-local backup FILE [--data DIR]\n"
           "       scanlume-local send --help\n"
           "       scanlume-local certificate --help\n"
           "       scanlume-local qr [--listen HOST:PORT] [--https] [--url URL]\n"
           "       scanlume-local --version\n";
}

bool ParseListenAddress(const std::string& AText, std::string& AHost, int& APort) {
    const size_t Colon = AText.rfind(':');
    if (Colon == std::string::npos || Colon == 0) {
        return false;
    }
    std::string Host = AText.substr(0, Colon);
    if (Host.size() >= 2 && Host.front() == '[' && Host.back() == ']') {
        Host = Host.substr(1, Host.size() - 2);
    }
    if (Host.empty() || !ParseNumber(AText.substr(Colon + 1), 0, 65535, APort)) {
        return false;
    }
    AHost = Host;
    return true;
}

bool ParseServerOptions(const std::vector<std::string>& AArgs, TServerOptions& AOptions,
                        std::string& AError) {
    for (size_t i = 0; i < AArgs.size(); ++i) {
        std::string Name = AArgs[i];
        std::string Value;
        bool HasValue = false;
        if (const size_t Eq = Name.find('='); Name.rfind("--", 0) == 0 && Eq != std::string::npos) {
            Value = Name.substr(Eq + 1);
            Name = Name.substr(0, Eq);
            HasValue = true;
        }
        const auto TakeValue = [&]() {
            if (HasValue) {
                return true;
            }
            if (i + 1 >= AArgs.size()) {
                AError = Name + " needs a value";
                return false;
            }
            Value = AArgs[++i];
            return true;
        };
        if (Name == "--listen") {
            if (!TakeValue()) {
                return false;
            }
            if (!ParseListenAddress(Value, AOptions.Host, AOptions.Port)) {
                AError = "--listen expects HOST:PORT, got \"" + Value + "\"";
                return false;
            }
        } else if (Name == "--data") {
            if (!TakeValue()) {
                return false;
            }
            if (Value.empty()) {
                AError = "--data needs a folder";
                return false;
            }
            AOptions.DataFolder = Value;
        } else if (Name == "--user") {
            if (!TakeValue()) {
                return false;
            }
            TAccount Account;
            if (!ParseAccount(Value, Account)) {
                AError = "--user expects EMAIL:PASSWORD, got \"" + Value + "\"";
                return false;
            }
            AOptions.Accounts.push_back(Account);
        } else if (Name == "--no-preload" && !HasValue) {
            AOptions.Preload = false;
        } else if (Name == "--quiet" && !HasValue) {
            AOptions.LogRequests = false;
        } else if (Name == "--test-hooks" && !HasValue) {
            AOptions.TestHooks = true;
        } else if (Name == "--tls-cert") {
            if (!TakeValue()) {
                return false;
            }
            AOptions.TlsCert = Value;
        } else if (Name == "--tls-key") {
            if (!TakeValue()) {
                return false;
            }
            AOptions.TlsKey = Value;
        } else if (Name == "--max-wait") {
            if (!TakeValue()) {
                return false;
            }
            if (!ParseNumber(Value, 1, 60, AOptions.MaxWaitSeconds)) {
                AError = "--max-wait expects 1 to 60 seconds, got \"" + Value + "\"";
                return false;
            }
        } else if (Name == "--max-queued-mib") {
            if (!TakeValue()) {
                return false;
            }
            if (!ParseNumber(Value, 1, 65536, AOptions.MaxQueuedMiB)) {
                AError = "--max-queued-mib expects 1 to 65536, got \"" + Value + "\"";
                return false;
            }
        } else if (Name == "--max-body-mib") {
            if (!TakeValue()) {
                return false;
            }
            if (!ParseNumber(Value, 1, 1024, AOptions.MaxBodyMiB)) {
                AError = "--max-body-mib expects 1 to 1024, got \"" + Value + "\"";
                return false;
            }
        } else {
            AError = "unknown argument \"" + AArgs[i] + "\"";
            return false;
        }
    }
    if (AOptions.TlsCert.empty() != AOptions.TlsKey.empty()) {
        AError = "--tls-cert and --tls-key go together";
        return false;
    }
    return true;
}

bool UseDemoAccountIfNone(TServerOptions& AOptions, size_t AStoredAccounts, std::string& AError) {
    if (!AOptions.Accounts.empty() || AStoredAccounts > 0) {
        return true;
    }
    if (!IsLoopbackHost(AOptions.Host)) {
        AError = "no account for listening on " + AOptions.Host +
                 ": the built-in demo account (demo@example.com, password \"secret\") is only "
                 "for trials on this computer (--listen 127.0.0.1:PORT); add the clinic's "
                 "account first with: scanlume-local user add" +
                 (AOptions.DataFolder.empty() ? "" : " --data " + AOptions.DataFolder) + " EMAIL";
        return false;
    }
    AOptions.Accounts.push_back({"demo@example.com", "secret"});
    AOptions.DemoAccount = true;
    return true;
}

bool IsLoopbackHost(const std::string& AHost) {
    if (AHost == "localhost" || AHost == "::1" || AHost == "0:0:0:0:0:0:0:1") {
        return true;
    }
    in_addr Address{};
    return inet_pton(AF_INET, AHost.c_str(), &Address) == 1 && (ntohl(Address.s_addr) >> 24) == 127;
}

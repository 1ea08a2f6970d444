#pragma once
// The command line of the service.
#include <string>
#include <vector>

#include "store/uAccounts.h"

struct TServerOptions {
    std::string Host = "127.0.0.1";
    int Port = 8765;                // 0 picks a free port
    std::string DataFolder;         // empty: the user's data folder
    std::vector<TAccount> Accounts; // --user: for trials, the password in clear
    bool DemoAccount = false;       // Accounts holds only the built-in demo account
    bool TestHooks = false;
    std::string TlsCert;
    std::string TlsKey;
    int MaxWaitSeconds = 60; // upper bound of a long poll's wait
    int MaxQueuedMiB = 512;  // bodies of the items that wait for one account's receivers
    int MaxBodyMiB = 64;     // one request's body
    bool Preload = true;     // load the recognition engine at start, not at the first request
    bool LogRequests = true; // one line per request on standard error
};

// False with a message in AError for a bad command line.
bool ParseServerOptions(const std::vector<std::string>& AArgs, TServerOptions& AOptions,
                        std::string& AError);

// Without any account, neither --user nor one in the store, the service has the single account
// demo@example.com with the password "secret", and only while it listens on loopback: false,
// with a message saying how to add an account, for an address beyond this computer.
bool UseDemoAccountIfNone(TServerOptions& AOptions, size_t AStoredAccounts, std::string& AError);

// Splits "HOST:PORT" and "[IPv6]:PORT".
bool ParseListenAddress(const std::string& AText, std::string& AHost, int& APort);

const char* ServerUsage();

// Whether AHost is this computer only: 127.0.0.0/8, ::1 or "localhost".
bool IsLoopbackHost(const std::string& AHost);

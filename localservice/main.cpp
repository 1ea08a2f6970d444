// scanlume-local: a small, real Scanlume service for trying Pictoport and for its tests.
#include <csignal>
#include <ctime>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include <pthread.h>
#include <sys/stat.h>

#include "admin/uAdminCommands.h"
#include "certificate/uCertificateCommand.h"
#include "http/uServer.h"
#include "http/uServerOptions.h"
#include "qr/uQrCommand.h"
#include "qr/uSendPageQr.h"
#include "send/uSendCommand.h"
#include "store/uSqliteStore.h"

int main(int argc, char** argv) {
    // A receiver that hangs up mid-answer must not end the service.
    std::signal(SIGPIPE, SIG_IGN);

    std::vector<std::string> Args(argv + 1, argv + argc);
    if (!Args.empty() && Args[0] == "send") {
        return RunSendCommand({Args.begin() + 1, Args.end()});
    }
    if (!Args.empty() && Args[0] == "certificate") {
        return RunCertificateCommand({Args.begin() + 1, Args.end()});
    }
    if (!Args.empty() && Args[0] == "qr") {
        return RunQrCommand({Args.begin() + 1, Args.end()});
    }
    // Patients' photos and the password hashes: what the service and its commands write is
    // for the service's own user alone.
    umask(077);
    if (!Args.empty() && Args[0] == "user") {
        return RunUserCommand({Args.begin() + 1, Args.end()});
    }
    if (!Args.empty() && Args[0] == "backup") {
        return RunBackupCommand({Args.begin() + 1, Args.end()});
    }
    if (!Args.empty() && (Args[0] == "--help" || Args[0] == "-h")) {
        std::cout << ServerUsage();
        return 0;
    }
    if (!Args.empty() && (Args[0] == "--version" || Args[0] == "-v")) {
        std::cout << "scanlume-local " << SCANLUME_LOCAL_VERSION << "\n";
        return 0;
    }
    TServerOptions Options;
    std::string Error;
    if (!ParseServerOptions(Args, Options, Error)) {
        std::cerr << "scanlume-local: " << Error << "\n" << ServerUsage();
        return 2;
    }
    // SIGINT and SIGTERM are taken by one thread that stops the server cleanly; every other
    // thread, the store's among them, inherits the blocked mask.
    sigset_t Stopping;
    sigemptyset(&Stopping);
    sigaddset(&Stopping, SIGINT);
    sigaddset(&Stopping, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &Stopping, nullptr);

    if (Options.DataFolder.empty()) {
        Options.DataFolder = DefaultDataFolder();
    }
    const auto Store = TSqliteStore::Open(Options.DataFolder, TSqliteStore::TUse::Service, Error);
    if (!Store) {
        std::cerr << "scanlume-local: " << Error << "\n";
        return 1;
    }
    const auto StoredAccounts = Store->Accounts();
    if (!StoredAccounts) {
        std::cerr << "scanlume-local: cannot read the accounts in " << Options.DataFolder << "\n";
        return 1;
    }
    if (!UseDemoAccountIfNone(Options, StoredAccounts->size(), Error)) {
        std::cerr << "scanlume-local: " << Error << "\n";
        return 2;
    }
    if (!Options.Accounts.empty() && !Options.DemoAccount) {
        std::cerr << "scanlume-local: --user is for trials and tests: its password shows in the "
                     "process list\n";
    }

    TServer Server(Options, *Store);
    std::atomic<bool> Finished = false;
    std::thread SignalWatcher([&] {
        const timespec Tick{0, 200'000'000};
        while (!Finished) {
            if (sigtimedwait(&Stopping, nullptr, &Tick) > 0) {
                Server.Stop();
                return;
            }
        }
    });
    // The phones' code goes to standard error: standard output's first line is the ready line.
    const bool Ok = Server.Run(Error, [&](int APort) {
        ShowSendPageQr(std::cerr, Options.Host, APort, !Options.TlsCert.empty());
    });
    Finished = true;
    SignalWatcher.join();
    if (!Ok) {
        std::cerr << "scanlume-local: " << Error << "\n";
        return 1;
    }
    return 0;
}

#include "admin/uAdminCommands.h"

#include <iostream>
#include <memory>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "admin/uPasswordPrompt.h"
#include "store/uPasswordHash.h"
#include "store/uSqliteStore.h"

namespace {

const char* const kUserUsage =
    "usage: scanlume-local user add [--data DIR] [--password-stdin] EMAIL\n"
    "       scanlume-local user passwd [--data DIR] [--password-stdin] EMAIL\n"
    "       scanlume-local user remove [--data DIR] [--discard-items] EMAIL\n"
    "       scanlume-local user list [--data DIR]\n"
    "The password is typed at the terminal, or read from the first line of standard input\n"
    "with --password-stdin. DIR is the service's data folder (default: "
    "~/.local/share/scanlume-local,\n"
    "/var/lib/scanlume-local for the system service's user).\n";

const char* const kBackupUsage =
    "usage: scanlume-local backup [--data DIR] FILE\n"
    "Writes a consistent copy of the service's database to FILE, also while it runs.\n";

struct TAdminLine {
    std::string DataFolder;
    bool PasswordStdin = false;
    bool DiscardItems = false;
    bool Help = false;
    std::vector<std::string> Words;
};

// False with a message for an unknown option or a missing value.
bool ParseAdminLine(const std::vector<std::string>& AArgs, TAdminLine& ALine, std::string& AError) {
    for (size_t i = 0; i < AArgs.size(); ++i) {
        const std::string& Arg = AArgs[i];
        if (Arg == "--data" || Arg.rfind("--data=", 0) == 0) {
            if (Arg == "--data" && i + 1 >= AArgs.size()) {
                AError = "--data needs a folder";
                return false;
            }
            ALine.DataFolder = Arg == "--data" ? AArgs[++i] : Arg.substr(7);
            if (ALine.DataFolder.empty()) {
                AError = "--data needs a folder";
                return false;
            }
        } else if (Arg == "--password-stdin") {
            ALine.PasswordStdin = true;
        } else if (Arg == "--discard-items") {
            ALine.DiscardItems = true;
        } else if (Arg == "--help" || Arg == "-h") {
            ALine.Help = true;
        } else if (Arg.size() > 1 && Arg[0] == '-') {
            AError = "unknown option \"" + Arg + "\"";
            return false;
        } else {
            ALine.Words.push_back(Arg);
        }
    }
    if (ALine.DataFolder.empty()) {
        ALine.DataFolder = DefaultDataFolder();
    }
    return true;
}

// An address a person can type on the phone and in Pictoport: one @ with text on both sides,
// no blanks or control characters.
bool PlausibleEmail(const std::string& AEmail) {
    const size_t At = AEmail.find('@');
    if (AEmail.size() > 254 || At == 0 || At == std::string::npos || At + 1 == AEmail.size() ||
        AEmail.find('@', At + 1) != std::string::npos) {
        return false;
    }
    for (const char C : AEmail) {
        if (static_cast<unsigned char>(C) <= ' ' || C == 0x7f) {
            return false;
        }
    }
    return true;
}

// Files the command makes in the folder (the database's log among them) must belong to the
// service's user, or the service can no longer write them: run as another user, the command
// refuses and says as whom to run it.
bool RunsAsFolderOwner(const std::string& AFolder, std::string& AError) {
    struct stat Info {};
    if (stat(AFolder.c_str(), &Info) != 0 || Info.st_uid == geteuid()) {
        return true;
    }
    const passwd* Owner = getpwuid(Info.st_uid);
    const std::string Name = Owner != nullptr ? Owner->pw_name : std::to_string(Info.st_uid);
    AError = "the data folder " + AFolder + " belongs to the user " + Name +
             "; run the command as that user, e.g. sudo -u " + Name + " scanlume-local ...";
    return false;
}

std::unique_ptr<TSqliteStore> OpenForAdmin(const std::string& AFolder, std::string& AError) {
    if (!RunsAsFolderOwner(AFolder, AError)) {
        return nullptr;
    }
    return TSqliteStore::Open(AFolder, TSqliteStore::TUse::Admin, AError);
}

int Fail(const std::string& AMessage) {
    std::cerr << "scanlume-local: " << AMessage << "\n";
    return 1;
}

int Usage(const std::string& AMessage, const char* AUsage) {
    std::cerr << "scanlume-local: " << AMessage << "\n" << AUsage;
    return 2;
}

size_t WaitingItemsOf(TSqliteStore& AStore, const std::string& AEmail) {
    size_t Count = 0;
    for (const TStoredItem& Item : AStore.WaitingItems().value_or(std::vector<TStoredItem>())) {
        Count += Item.Account == AEmail ? 1 : 0;
    }
    return Count;
}

int SetPassword(TSqliteStore& AStore, const TAdminLine& ALine, bool AAdding) {
    const std::string& Email = ALine.Words[1];
    if (!PlausibleEmail(Email)) {
        return Usage("\"" + Email + "\" is not an e-mail address", kUserUsage);
    }
    const auto Existing = AStore.FindAccount(Email);
    if (AAdding && Existing) {
        return Fail("the account " + Existing->Email +
                    " exists already; change its password "
                    "with: scanlume-local user passwd");
    }
    if (!AAdding && !Existing) {
        return Fail("there is no account " + Email + " (scanlume-local user list shows them)");
    }
    std::string Error;
    const auto Password = ReadNewPassword(ALine.PasswordStdin ? TPasswordSource::StandardInput
                                                              : TPasswordSource::Terminal,
                                          Email, Error);
    if (!Password) {
        return Fail(Error);
    }
    const auto Hash = HashPassword(*Password);
    if (!Hash) {
        return Fail("cannot hash the password (out of memory?)");
    }
    if (AAdding ? !AStore.AddAccount(Email, *Hash)
                : !AStore.SetPasswordHash(Existing->Email, *Hash)) {
        return Fail("cannot save the account in " + AStore.Folder());
    }
    std::cout << (AAdding ? "added the account " : "changed the password of ")
              << (AAdding ? Email : Existing->Email) << "\n";
    if (!AAdding) {
        std::cout << "its receivers and phones must sign in again\n";
    }
    return 0;
}

int RemoveAccount(TSqliteStore& AStore, const TAdminLine& ALine) {
    const auto Existing = AStore.FindAccount(ALine.Words[1]);
    if (!Existing) {
        return Fail("there is no account " + ALine.Words[1] +
                    " (scanlume-local user list shows them)");
    }
    // Photos nobody has received yet are patients' data: never dropped without being asked.
    if (const size_t Waiting = WaitingItemsOf(AStore, Existing->Email);
        Waiting > 0 && !ALine.DiscardItems) {
        return Fail(std::to_string(Waiting) + " item(s) sent to " + Existing->Email +
                    " wait for a receiver; receive them first, or remove the account and "
                    "them with --discard-items");
    }
    if (!AStore.RemoveAccount(Existing->Email)) {
        return Fail("cannot remove the account from " + AStore.Folder());
    }
    std::cout << "removed the account " << Existing->Email << "\n";
    return 0;
}

} // namespace

int RunUserCommand(const std::vector<std::string>& AArgs) {
    TAdminLine Line;
    std::string Error;
    if (!ParseAdminLine(AArgs, Line, Error)) {
        return Usage(Error, kUserUsage);
    }
    if (Line.Help) {
        std::cout << kUserUsage;
        return 0;
    }
    const std::string Verb = Line.Words.empty() ? std::string() : Line.Words[0];
    const size_t Needed = Verb == "list" ? 1 : 2;
    if (Verb != "add" && Verb != "passwd" && Verb != "remove" && Verb != "list") {
        return Usage(Verb.empty() ? "user needs add, passwd, remove or list"
                                  : "unknown user command \"" + Verb + "\"",
                     kUserUsage);
    }
    if (Line.Words.size() != Needed) {
        return Usage(Needed == 1 ? "user list takes no address"
                                 : "user " + Verb + " needs one e-mail address",
                     kUserUsage);
    }
    if ((Line.PasswordStdin && Verb != "add" && Verb != "passwd") ||
        (Line.DiscardItems && Verb != "remove")) {
        return Usage("that option does not go with user " + Verb, kUserUsage);
    }
    const auto Store = OpenForAdmin(Line.DataFolder, Error);
    if (!Store) {
        return Fail(Error);
    }
    if (Verb == "add" || Verb == "passwd") {
        return SetPassword(*Store, Line, Verb == "add");
    }
    if (Verb == "remove") {
        return RemoveAccount(*Store, Line);
    }
    const auto Accounts = Store->Accounts();
    if (!Accounts) {
        return Fail("cannot read the accounts in " + Store->Folder());
    }
    for (const TStoredAccount& Account : *Accounts) {
        std::cout << Account.Email << "\n";
    }
    if (Accounts->empty()) {
        std::cerr << "no accounts in " << Store->Folder()
                  << " (add one with: scanlume-local user add EMAIL)\n";
    }
    return 0;
}

int RunBackupCommand(const std::vector<std::string>& AArgs) {
    TAdminLine Line;
    std::string Error;
    if (!ParseAdminLine(AArgs, Line, Error) || Line.PasswordStdin || Line.DiscardItems) {
        return Usage(Error.empty() ? "that option does not go with backup" : Error, kBackupUsage);
    }
    if (Line.Help) {
        std::cout << kBackupUsage;
        return 0;
    }
    if (Line.Words.size() != 1) {
        return Usage("backup needs one file to write", kBackupUsage);
    }
    // A folder without a database is a wrong --data, not a database to make empty and copy.
    struct stat Info {};
    const std::string Database = Line.DataFolder + "/" + TSqliteStore::kFileName;
    if (stat(Database.c_str(), &Info) != 0) {
        return Fail("no database in " + Line.DataFolder + " (give the service's --data DIR)");
    }
    const auto Store = OpenForAdmin(Line.DataFolder, Error);
    if (!Store) {
        return Fail(Error);
    }
    if (!Store->Backup(Line.Words[0], Error)) {
        return Fail(Error);
    }
    std::cout << "wrote " << Line.Words[0] << "\n";
    return 0;
}

#include "send/uSendCommand.h"

#include <httplib.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "http/uJson.h"
#include "store/uAccounts.h"

namespace {

const char* const kUsage =
    "usage: scanlume-local send --server URL --user EMAIL:PASSWORD\n"
    "                           [--file PATH [--type MIME]]... [--text TEXT [--filename NAME]]...\n"
    "                           [--ca-cert FILE | --insecure]\n"
    "Sends each file and each text as one item, in the order given.\n";

struct TOutgoing {
    bool IsText = false;
    std::string Path;     // file
    std::string Type;     // file: --type, else guessed
    std::string Text;     // text
    std::string Filename; // text: --filename
    bool HasFilename = false;
};

struct TSendOptions {
    std::string Server;
    TAccount User;
    bool HasUser = false;
    std::string CaCert;
    bool Insecure = false;
    std::vector<TOutgoing> Items;
};

bool ParseSendOptions(const std::vector<std::string>& AArgs, TSendOptions& AOptions,
                      std::string& AError) {
    for (size_t i = 0; i < AArgs.size(); ++i) {
        const std::string& Name = AArgs[i];
        const auto Value = [&](std::string& AOut) {
            if (i + 1 >= AArgs.size()) {
                AError = Name + " needs a value";
                return false;
            }
            AOut = AArgs[++i];
            return true;
        };
        std::string Text;
        if (Name == "--server") {
            if (!Value(AOptions.Server)) {
                return false;
            }
        } else if (Name == "--user") {
            if (!Value(Text)) {
                return false;
            }
            if (!ParseAccount(Text, AOptions.User)) {
                AError = "--user expects EMAIL:PASSWORD";
                return false;
            }
            AOptions.HasUser = true;
        } else if (Name == "--file") {
            TOutgoing Item;
            if (!Value(Item.Path)) {
                return false;
            }
            AOptions.Items.push_back(Item);
        } else if (Name == "--type") {
            if (AOptions.Items.empty() || AOptions.Items.back().IsText ||
                !AOptions.Items.back().Type.empty()) {
                AError = "--type belongs right after a --file";
                return false;
            }
            if (!Value(AOptions.Items.back().Type)) {
                return false;
            }
        } else if (Name == "--text") {
            TOutgoing Item;
            Item.IsText = true;
            if (!Value(Item.Text)) {
                return false;
            }
            AOptions.Items.push_back(Item);
        } else if (Name == "--filename") {
            if (AOptions.Items.empty() || !AOptions.Items.back().IsText ||
                AOptions.Items.back().HasFilename) {
                AError = "--filename belongs right after a --text";
                return false;
            }
            if (!Value(AOptions.Items.back().Filename)) {
                return false;
            }
            AOptions.Items.back().HasFilename = true;
        } else if (Name == "--ca-cert") {
            if (!Value(AOptions.CaCert)) {
                return false;
            }
        } else if (Name == "--insecure") {
            AOptions.Insecure = true;
        } else {
            AError = "unknown argument \"" + Name + "\"";
            return false;
        }
    }
    if (AOptions.Server.empty() || !AOptions.HasUser) {
        AError = "--server and --user are required";
        return false;
    }
    if (AOptions.Items.empty()) {
        AError = "nothing to send: give --file or --text";
        return false;
    }
    return true;
}

// "https://host:port/prefix" -> "https://host:port" and "/prefix".
bool SplitServerUrl(const std::string& AUrl, std::string& AOrigin, std::string& APrefix) {
    const size_t Scheme = AUrl.find("://");
    if (Scheme == std::string::npos) {
        return false;
    }
    const std::string Name = AUrl.substr(0, Scheme);
    if (Name != "http" && Name != "https") {
        return false;
    }
    const size_t Slash = AUrl.find('/', Scheme + 3);
    AOrigin = AUrl.substr(0, Slash);
    APrefix = Slash == std::string::npos ? std::string() : AUrl.substr(Slash);
    while (!APrefix.empty() && APrefix.back() == '/') {
        APrefix.pop_back();
    }
    return AOrigin.size() > Scheme + 3;
}

// Why no answer came, in words that say what to check.
std::string DescribeTransportError(httplib::Error AError, const std::string& AServer) {
    switch (AError) {
    case httplib::Error::Connection:
        return "cannot reach " + AServer +
               ": nothing answers there (is scanlume-local running at that address and port, "
               "and does the network let you through?)";
    case httplib::Error::ConnectionTimeout:
        return "cannot reach " + AServer + ": no answer in time (address, network or firewall)";
    case httplib::Error::SSLConnection:
        return "cannot reach " + AServer +
               ": the encrypted connection failed (https to a "
               "service that speaks http, or the reverse?)";
    case httplib::Error::SSLServerVerification:
        return "cannot reach " + AServer +
               ": its certificate is not trusted here, or does not name this address";
    case httplib::Error::Read:
    case httplib::Error::Write:
        return "the connection to " + AServer + " broke off";
    default:
        return "cannot reach " + AServer + ": " + httplib::to_string(AError);
    }
}

// The service's "detail" text when it sent one, else the status.
std::string DescribeFailure(const httplib::Result& AResult, const std::string& AServer) {
    if (!AResult) {
        return DescribeTransportError(AResult.error(), AServer);
    }
    std::string Text = "HTTP " + std::to_string(AResult->status);
    rapidjson::Document Doc;
    if (ParseJson(AResult->body, Doc) && Doc.IsObject() && Doc.HasMember("detail") &&
        Doc["detail"].IsString()) {
        Text += ": " + std::string(Doc["detail"].GetString(), Doc["detail"].GetStringLength());
    }
    return Text;
}

bool ReadFile(const std::string& APath, std::string& AData) {
    std::ifstream File(APath, std::ios::binary);
    if (!File) {
        return false;
    }
    std::ostringstream Buffer;
    Buffer << File.rdbuf();
    AData = Buffer.str();
    return !File.bad();
}

} // namespace

std::string GuessContentType(const std::string& APath) {
    std::string Ext = std::filesystem::path(APath).extension().string();
    for (char& C : Ext) {
        C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
    }
    if (Ext == ".jpg" || Ext == ".jpeg") {
        return "image/jpeg";
    }
    if (Ext == ".png") {
        return "image/png";
    }
    if (Ext == ".bmp") {
        return "image/bmp";
    }
    if (Ext == ".gif") {
        return "image/gif";
    }
    if (Ext == ".pdf") {
        return "application/pdf";
    }
    if (Ext == ".txt") {
        return "text/plain; charset=utf-8";
    }
    return "application/octet-stream";
}

int RunSendCommand(const std::vector<std::string>& AArgs) {
    if (!AArgs.empty() && (AArgs[0] == "--help" || AArgs[0] == "-h")) {
        std::cout << kUsage;
        return 0;
    }
    TSendOptions Options;
    std::string Error;
    if (!ParseSendOptions(AArgs, Options, Error)) {
        std::cerr << "scanlume-local send: " << Error << "\n" << kUsage;
        return 2;
    }
    std::string Origin, Prefix;
    if (!SplitServerUrl(Options.Server, Origin, Prefix)) {
        std::cerr
            << "scanlume-local send: --server expects http://HOST:PORT or https://HOST:PORT\n";
        return 2;
    }
    // Read every file first, so that a missing one sends nothing at all.
    std::vector<std::string> Contents(Options.Items.size());
    for (size_t i = 0; i < Options.Items.size(); ++i) {
        if (!Options.Items[i].IsText && !ReadFile(Options.Items[i].Path, Contents[i])) {
            std::cerr << "scanlume-local send: cannot read \"" << Options.Items[i].Path << "\"\n";
            return 1;
        }
    }

    httplib::Client Client(Origin);
    Client.set_connection_timeout(10);
    Client.set_read_timeout(120);
    Client.set_write_timeout(120);
    if (!Options.CaCert.empty()) {
        Client.set_ca_cert_path(Options.CaCert.c_str());
    }
    Client.enable_server_certificate_verification(!Options.Insecure);

    const std::string LoginBody = BuildJson([&](TJsonWriter& W) {
        W.StartObject();
        W.Key("email");
        WriteString(W, Options.User.Email);
        W.Key("password");
        WriteString(W, Options.User.Password);
        W.Key("remember_me");
        W.Bool(true);
        W.EndObject();
    });
    const auto Login = Client.Post(Prefix + "/api/auth/login", LoginBody, "application/json");
    rapidjson::Document Doc;
    if (!Login || Login->status != 200 || !ParseJson(Login->body, Doc) || !Doc.IsObject() ||
        !Doc.HasMember("access_token") || !Doc["access_token"].IsString()) {
        std::cerr << "scanlume-local send: sign-in failed: "
                  << DescribeFailure(Login, Options.Server) << "\n";
        return 1;
    }
    const httplib::Headers Auth{
        {"Authorization", std::string("Bearer ") + Doc["access_token"].GetString()}};

    for (size_t i = 0; i < Options.Items.size(); ++i) {
        const TOutgoing& Item = Options.Items[i];
        httplib::MultipartFormDataItems Form;
        std::string Description;
        if (Item.IsText) {
            Form.push_back({"text", Item.Text, "", ""});
            if (Item.HasFilename) {
                Form.push_back({"filename", Item.Filename, "", ""});
            }
            Description = "text as " +
                          (Item.HasFilename ? Item.Filename : std::string("result.txt")) + " (" +
                          std::to_string(Item.Text.size()) + " bytes)";
        } else {
            const std::string Name = std::filesystem::path(Item.Path).filename().string();
            const std::string Type = Item.Type.empty() ? GuessContentType(Item.Path) : Item.Type;
            Form.push_back({"file", Contents[i], Name, Type});
            Description = "file " + Name + " (" + Type + ", " + std::to_string(Contents[i].size()) +
                          " bytes)";
        }
        const auto Sent = Client.Post(Prefix + "/api/image-transfer/send", Auth, Form);
        if (!Sent || Sent->status < 200 || Sent->status >= 300) {
            std::cerr << "scanlume-local send: sending " << Description
                      << " failed: " << DescribeFailure(Sent, Options.Server) << "\n";
            return 1;
        }
        std::cout << "sent " << Description << std::endl;
    }
    return 0;
}

#include "qr/uQrCommand.h"

#include <algorithm>
#include <cctype>
#include <iostream>

#include "http/uServerOptions.h"
#include "qr/uSendPageQr.h"

namespace {

const char kUsage[] =
    "usage: scanlume-local qr [--listen HOST:PORT] [--https] [--url URL]\n"
    "  Prints the address of the sending page and draws it as a QR code: point the phone's\n"
    "  camera at it. Give the --listen the service was started with (default: every address,\n"
    "  port 8765); 0.0.0.0 or [::] becomes this machine's network address. --https when the\n"
    "  service serves HTTPS. --url URL draws that address instead.\n";

int UsageError(const std::string& AMessage) {
    std::cerr << "scanlume-local qr: " << AMessage << "\n" << kUsage;
    return 2;
}

// An address a phone's camera can open: http or https, something after the "//", and nothing
// that would break the line it is printed on.
bool IsPageUrl(const std::string& AUrl) {
    std::string Lower = AUrl.substr(0, 8);
    std::transform(Lower.begin(), Lower.end(), Lower.begin(),
                   [](unsigned char C) { return static_cast<char>(std::tolower(C)); });
    const size_t Start = Lower.rfind("http://", 0) == 0    ? 7
                         : Lower.rfind("https://", 0) == 0 ? 8
                                                           : 0;
    return Start != 0 && AUrl.size() > Start && AUrl[Start] != '/' &&
           std::none_of(AUrl.begin(), AUrl.end(),
                        [](unsigned char C) { return C <= ' ' || C == 0x7f; });
}

} // namespace

int RunQrCommand(const std::vector<std::string>& AArgs) {
    std::string Host; // none given: every address, as a phone sees it
    int Port = TServerOptions().Port;
    bool Https = false, Listen = false;
    std::string Url;
    for (size_t i = 0; i < AArgs.size(); ++i) {
        std::string Name = AArgs[i];
        std::string Value;
        bool HasValue = false;
        if (const size_t Eq = Name.find('='); Name.rfind("--", 0) == 0 && Eq != std::string::npos) {
            Value = Name.substr(Eq + 1);
            Name = Name.substr(0, Eq);
            HasValue = true;
        }
        if ((Name == "--help" || Name == "-h") && !HasValue) {
            std::cout << kUsage;
            return 0;
        }
        if (Name == "--https" && !HasValue) {
            Https = true;
            continue;
        }
        if (Name != "--listen" && Name != "--url") {
            return UsageError("unknown argument \"" + AArgs[i] + "\"");
        }
        if (!HasValue) {
            if (i + 1 >= AArgs.size()) {
                return UsageError(Name + " needs a value");
            }
            Value = AArgs[++i];
        }
        if (Name == "--url") {
            if (!IsPageUrl(Value)) {
                return UsageError("--url expects an address that starts with http:// or "
                                  "https://, got \"" +
                                  Value + "\"");
            }
            Url = Value;
        } else {
            if (!ParseListenAddress(Value, Host, Port)) {
                return UsageError("--listen expects HOST:PORT, got \"" + Value + "\"");
            }
            if (Port == 0) {
                return UsageError("--listen needs the port the service listens on, not 0");
            }
            Listen = true;
        }
    }
    if (!Url.empty() && (Listen || Https)) {
        return UsageError("--url is the whole address: give it without --listen and --https");
    }
    if (Url.empty() && IsLoopbackHost(Host)) {
        return UsageError(Host +
                          " is this computer alone: a phone cannot reach it. Start the service "
                          "on the clinic's network (--listen 0.0.0.0:PORT) and give that here");
    }
    if (Url.empty()) {
        Url = SendPageUrl(Host, Port, Https);
        if (Url.empty()) {
            std::cerr << "scanlume-local qr: this machine has no network address that a phone "
                         "can reach (only loopback or link-local ones); connect it to the "
                         "clinic's network, or give --listen ADDRESS:PORT or --url URL\n";
            return 1;
        }
    }
    if (!PrintSendPageQr(std::cout, Url)) {
        return UsageError("the address is too long for a QR code (" + std::to_string(Url.size()) +
                          " bytes)");
    }
    return 0;
}

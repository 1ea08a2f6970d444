#include "qr/uSendPageQr.h"

#include <qrencode.h>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <memory>

#include "http/uServerOptions.h"

namespace {

// The standard's quiet zone: cameras look for the light border around the finder patterns.
constexpr int kQuietZone = 4;

struct TQrFree {
    void operator()(QRcode* ACode) const { QRcode_free(ACode); }
};

} // namespace

std::vector<std::string> QrCodeLines(const std::string& AText) {
    if (AText.empty()) {
        return {};
    }
    const std::unique_ptr<QRcode, TQrFree> Code(
        QRcode_encodeString(AText.c_str(), 0, QR_ECLEVEL_M, QR_MODE_8, 1));
    if (!Code) {
        return {};
    }
    const int Modules = Code->width;
    const int Size = Modules + 2 * kQuietZone;
    const auto Dark = [&](int AX, int AY) {
        const int X = AX - kQuietZone, Y = AY - kQuietZone;
        return X >= 0 && Y >= 0 && X < Modules && Y < Modules &&
               (Code->data[Y * Modules + X] & 1) != 0;
    };
    // Inverted: the light modules and the quiet zone are the blocks, the dark modules are left
    // to the terminal's background. Terminals mostly draw light text on a dark background, so
    // the code comes out dark on light with its quiet zone drawn rather than taken from
    // whatever surrounds it; drawn the other way round it would be light on dark there, which
    // many cameras do not read. On a light background it comes out inverted instead.
    std::vector<std::string> Lines;
    for (int Y = 0; Y < Size; Y += 2) {
        std::string Line;
        for (int X = 0; X < Size; ++X) {
            const bool UpperLight = !Dark(X, Y);
            // Below the last row (the size is odd) nothing is drawn.
            const bool LowerLight = Y + 1 < Size && !Dark(X, Y + 1);
            Line += UpperLight ? (LowerLight ? "█" : "▀") : (LowerLight ? "▄" : " ");
        }
        Lines.push_back(std::move(Line));
    }
    return Lines;
}

bool PrintSendPageQr(std::ostream& AOut, const std::string& AUrl) {
    const std::vector<std::string> Lines = QrCodeLines(AUrl);
    if (Lines.empty()) {
        return false;
    }
    AOut << AUrl << "\n";
    for (const std::string& Line : Lines) {
        AOut << Line << "\n";
    }
    AOut.flush();
    return true;
}

bool IsWildcardHost(const std::string& AHost) {
    in_addr V4{};
    in6_addr V6{};
    return AHost.empty() ||
           (::inet_pton(AF_INET, AHost.c_str(), &V4) == 1 && V4.s_addr == INADDR_ANY) ||
           (::inet_pton(AF_INET6, AHost.c_str(), &V6) == 1 && IN6_IS_ADDR_UNSPECIFIED(&V6));
}

std::string PhoneReachableAddress(const std::vector<std::string>& AAddresses) {
    for (const std::string& Text : AAddresses) {
        in_addr Address{};
        if (::inet_pton(AF_INET, Text.c_str(), &Address) != 1) {
            continue;
        }
        const uint32_t Host = ntohl(Address.s_addr);
        const bool Loopback = (Host >> 24) == 127;
        const bool LinkLocal = (Host >> 16) == 0xA9FE; // 169.254/16, no DHCP server answered
        if (Host != 0 && !Loopback && !LinkLocal) {
            return Text;
        }
    }
    return {};
}

std::vector<std::string> InterfaceAddresses() {
    std::vector<std::string> Addresses;
    ifaddrs* List = nullptr;
    if (::getifaddrs(&List) != 0) {
        return Addresses;
    }
    for (const ifaddrs* It = List; It != nullptr; It = It->ifa_next) {
        if (It->ifa_addr == nullptr || It->ifa_addr->sa_family != AF_INET ||
            (It->ifa_flags & IFF_UP) == 0) {
            continue;
        }
        char Text[INET_ADDRSTRLEN] = {};
        const auto* Address = reinterpret_cast<const sockaddr_in*>(It->ifa_addr);
        if (::inet_ntop(AF_INET, &Address->sin_addr, Text, sizeof(Text)) != nullptr) {
            Addresses.emplace_back(Text);
        }
    }
    ::freeifaddrs(List);
    return Addresses;
}

std::string SendPageUrl(const std::string& AHost, int APort, bool AHttps) {
    const std::string Host =
        IsWildcardHost(AHost) ? PhoneReachableAddress(InterfaceAddresses()) : AHost;
    if (Host.empty()) {
        return {};
    }
    const bool V6 = Host.find(':') != std::string::npos;
    return std::string(AHttps ? "https" : "http") + "://" + (V6 ? "[" + Host + "]" : Host) + ":" +
           std::to_string(APort) + "/";
}

void ShowSendPageQr(std::ostream& AOut, const std::string& AHost, int APort, bool AHttps) {
    if (IsLoopbackHost(AHost)) {
        return;
    }
    const std::string Url = SendPageUrl(AHost, APort, AHttps);
    if (Url.empty()) {
        AOut << "scanlume-local: no QR code for the phones: this machine has no network address "
                "beyond loopback yet\n";
        return;
    }
    AOut << "phones on the clinic's network send from (scan with the camera):\n";
    PrintSendPageQr(AOut, Url);
}

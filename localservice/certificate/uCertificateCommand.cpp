#include "certificate/uCertificateCommand.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <memory>
#include <set>

namespace {

constexpr long kAuthorityDays = 3650;
// Phones refuse server certificates valid for longer than 825 days.
constexpr long kServerDays = 825;

struct TFree {
    void operator()(EVP_PKEY* AKey) const { EVP_PKEY_free(AKey); }
    void operator()(X509* ACert) const { X509_free(ACert); }
    void operator()(BIO* ABio) const { BIO_free(ABio); }
    void operator()(X509_EXTENSION* AExt) const { X509_EXTENSION_free(AExt); }
    void operator()(BIGNUM* ANumber) const { BN_free(ANumber); }
};
using TKey = std::unique_ptr<EVP_PKEY, TFree>;
using TCert = std::unique_ptr<X509, TFree>;
using TBio = std::unique_ptr<BIO, TFree>;

struct TFailure {
    std::string What;
};

std::string OpenSslError() {
    const unsigned long Code = ERR_get_error();
    if (Code == 0) {
        return "unknown error";
    }
    char Text[256];
    ERR_error_string_n(Code, Text, sizeof(Text));
    return Text;
}

void Check(bool AOk, const std::string& AWhat) {
    if (!AOk) {
        throw TFailure{AWhat + ": " + OpenSslError()};
    }
}

std::string ReadFile(const std::string& APath) {
    TBio Bio(BIO_new_file(APath.c_str(), "r"));
    if (!Bio) {
        return {};
    }
    std::string Text;
    char Buffer[4096];
    int Read = 0;
    while ((Read = BIO_read(Bio.get(), Buffer, sizeof(Buffer))) > 0) {
        Text.append(Buffer, static_cast<size_t>(Read));
    }
    return Text;
}

// Whole or not at all: a temporary file beside it, synced, then renamed over it.
void WriteFile(const std::string& APath, const std::string& AText, mode_t AMode) {
    const std::string Temporary = APath + ".tmp";
    const int Fd = ::open(Temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, AMode);
    if (Fd < 0) {
        throw TFailure{"cannot write " + APath + ": " + std::strerror(errno)};
    }
    ::fchmod(Fd, AMode);
    size_t Done = 0;
    while (Done < AText.size()) {
        const ssize_t Written = ::write(Fd, AText.data() + Done, AText.size() - Done);
        if (Written < 0 && errno == EINTR) {
            continue;
        }
        if (Written <= 0) {
            const std::string Error = std::strerror(errno);
            ::close(Fd);
            ::unlink(Temporary.c_str());
            throw TFailure{"cannot write " + APath + ": " + Error};
        }
        Done += static_cast<size_t>(Written);
    }
    if (::fsync(Fd) != 0 || ::close(Fd) != 0 || ::rename(Temporary.c_str(), APath.c_str()) != 0) {
        const std::string Error = std::strerror(errno);
        ::unlink(Temporary.c_str());
        throw TFailure{"cannot write " + APath + ": " + Error};
    }
}

std::string Pem(X509* ACert) {
    TBio Bio(BIO_new(BIO_s_mem()));
    Check(Bio && PEM_write_bio_X509(Bio.get(), ACert) == 1, "cannot encode a certificate");
    char* Data = nullptr;
    const long Size = BIO_get_mem_data(Bio.get(), &Data);
    return std::string(Data, static_cast<size_t>(Size));
}

std::string Pem(EVP_PKEY* AKey) {
    TBio Bio(BIO_new(BIO_s_mem()));
    Check(Bio &&
              PEM_write_bio_PrivateKey(Bio.get(), AKey, nullptr, nullptr, 0, nullptr, nullptr) == 1,
          "cannot encode a key");
    char* Data = nullptr;
    const long Size = BIO_get_mem_data(Bio.get(), &Data);
    return std::string(Data, static_cast<size_t>(Size));
}

TKey NewKey() {
    TKey Key(EVP_EC_gen("P-256"));
    Check(Key != nullptr, "cannot make a key");
    return Key;
}

void AddExtension(X509* ACert, X509* AIssuer, int ANid, const std::string& AValue) {
    X509V3_CTX Context;
    X509V3_set_ctx_nodb(&Context);
    X509V3_set_ctx(&Context, AIssuer, ACert, nullptr, nullptr, 0);
    std::unique_ptr<X509_EXTENSION, TFree> Extension(
        X509V3_EXT_conf_nid(nullptr, &Context, ANid, AValue.c_str()));
    Check(Extension && X509_add_ext(ACert, Extension.get(), -1) == 1,
          "cannot add " + std::string(OBJ_nid2sn(ANid)) + " " + AValue);
}

// A certificate for AKey, named ACommonName, valid from an hour ago for ADays.
TCert NewCertificate(EVP_PKEY* AKey, const std::string& ACommonName, long ADays) {
    TCert Cert(X509_new());
    Check(Cert != nullptr, "cannot make a certificate");
    X509_set_version(Cert.get(), 2);
    std::unique_ptr<BIGNUM, TFree> Serial(BN_new());
    Check(Serial && BN_rand(Serial.get(), 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1 &&
              BN_to_ASN1_INTEGER(Serial.get(), X509_get_serialNumber(Cert.get())) != nullptr,
          "cannot make a serial number");
    X509_gmtime_adj(X509_getm_notBefore(Cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(Cert.get()), ADays * 24 * 3600);
    Check(X509_set_pubkey(Cert.get(), AKey) == 1, "cannot set the key");
    X509_NAME* Name = X509_get_subject_name(Cert.get());
    Check(X509_NAME_add_entry_by_txt(Name, "CN", MBSTRING_UTF8,
                                     reinterpret_cast<const unsigned char*>(ACommonName.c_str()),
                                     -1, -1, 0) == 1,
          "cannot name the certificate");
    return Cert;
}

std::string HostName() {
    char Name[256] = {};
    if (::gethostname(Name, sizeof(Name) - 1) != 0) {
        return {};
    }
    return Name;
}

// The machine's addresses beyond loopback, where phones reach it; link-local ones are left out.
std::vector<std::string> NetworkAddresses() {
    std::vector<std::string> Addresses;
    ifaddrs* List = nullptr;
    if (::getifaddrs(&List) != 0) {
        return Addresses;
    }
    for (ifaddrs* It = List; It != nullptr; It = It->ifa_next) {
        if (It->ifa_addr == nullptr) {
            continue;
        }
        char Text[INET6_ADDRSTRLEN] = {};
        if (It->ifa_addr->sa_family == AF_INET) {
            const auto* Address = reinterpret_cast<const sockaddr_in*>(It->ifa_addr);
            if ((ntohl(Address->sin_addr.s_addr) >> 24) != 127 &&
                ::inet_ntop(AF_INET, &Address->sin_addr, Text, sizeof(Text)) != nullptr) {
                Addresses.emplace_back(Text);
            }
        } else if (It->ifa_addr->sa_family == AF_INET6) {
            const auto* Address = reinterpret_cast<const sockaddr_in6*>(It->ifa_addr);
            if (!IN6_IS_ADDR_LOOPBACK(&Address->sin6_addr) &&
                !IN6_IS_ADDR_LINKLOCAL(&Address->sin6_addr) &&
                ::inet_ntop(AF_INET6, &Address->sin6_addr, Text, sizeof(Text)) != nullptr) {
                Addresses.emplace_back(Text);
            }
        }
    }
    ::freeifaddrs(List);
    return Addresses;
}

bool IsAddress(const std::string& AText) {
    in6_addr Buffer{};
    return ::inet_pton(AF_INET, AText.c_str(), &Buffer) == 1 ||
           ::inet_pton(AF_INET6, AText.c_str(), &Buffer) == 1;
}

// A DNS name as a certificate may carry it: letters, digits, '-', '.', and '*.' in front.
bool IsDnsName(const std::string& AText) {
    if (AText.empty() || AText.size() > 253 || AText.front() == '.' || AText.back() == '.') {
        return false;
    }
    const std::string Body = AText.rfind("*.", 0) == 0 ? AText.substr(2) : AText;
    return !Body.empty() && std::all_of(Body.begin(), Body.end(), [](char C) {
        return std::isalnum(static_cast<unsigned char>(C)) || C == '-' || C == '.';
    });
}

const char kUsage[] =
    "usage: scanlume-local certificate --out DIR [--name NAME]... [--ip ADDRESS]...\n"
    "  Makes DIR/ca.pem and DIR/ca.key (the clinic's own certificate authority, reused when\n"
    "  they exist) and DIR/cert.pem and DIR/key.pem (this machine's server certificate, for\n"
    "  --tls-cert and --tls-key). It names the host name, NAME.local, localhost, 127.0.0.1, ::1,\n"
    "  the machine's network addresses, and every --name and --ip given. Trust ca.pem on the\n"
    "  PCs and phones (see the README).\n";

} // namespace

int RunCertificateCommand(const std::vector<std::string>& AArgs) {
    std::string Folder;
    std::set<std::string> Names, Addresses;
    for (size_t i = 0; i < AArgs.size(); ++i) {
        const std::string& Arg = AArgs[i];
        if (Arg == "--help" || Arg == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if ((Arg == "--out" || Arg == "--name" || Arg == "--ip") && i + 1 < AArgs.size()) {
            const std::string& Value = AArgs[++i];
            if (Arg == "--out") {
                Folder = Value;
            } else if (Arg == "--name" && IsDnsName(Value)) {
                Names.insert(Value);
            } else if (Arg == "--ip" && IsAddress(Value)) {
                Addresses.insert(Value);
            } else {
                std::cerr << "scanlume-local certificate: " << Arg << " \"" << Value << "\" is not "
                          << (Arg == "--ip" ? "an IP address" : "a host name") << "\n";
                return 2;
            }
            continue;
        }
        std::cerr << "scanlume-local certificate: unknown or incomplete argument \"" << Arg
                  << "\"\n"
                  << kUsage;
        return 2;
    }
    if (Folder.empty()) {
        std::cerr << "scanlume-local certificate: --out DIR is needed\n" << kUsage;
        return 2;
    }
    const std::string Host = HostName();
    if (IsDnsName(Host)) {
        Names.insert(Host);
        if (Host.find('.') == std::string::npos) {
            Names.insert(Host + ".local");
        }
    }
    Names.insert("localhost");
    Addresses.insert("127.0.0.1");
    Addresses.insert("::1");
    for (const std::string& Address : NetworkAddresses()) {
        Addresses.insert(Address);
    }

    try {
        ::mkdir(Folder.c_str(), 0700);
        const std::string CaCertPath = Folder + "/ca.pem", CaKeyPath = Folder + "/ca.key";
        // The authority already there stays: what trusts it goes on trusting.
        TCert Authority;
        TKey AuthorityKey;
        const std::string OldCert = ReadFile(CaCertPath), OldKey = ReadFile(CaKeyPath);
        if (!OldCert.empty() && !OldKey.empty()) {
            TBio CertBio(BIO_new_mem_buf(OldCert.data(), static_cast<int>(OldCert.size())));
            TBio KeyBio(BIO_new_mem_buf(OldKey.data(), static_cast<int>(OldKey.size())));
            Authority.reset(PEM_read_bio_X509(CertBio.get(), nullptr, nullptr, nullptr));
            AuthorityKey.reset(PEM_read_bio_PrivateKey(KeyBio.get(), nullptr, nullptr, nullptr));
            Check(Authority && AuthorityKey &&
                      X509_check_private_key(Authority.get(), AuthorityKey.get()) == 1,
                  "cannot use " + CaCertPath + " with " + CaKeyPath);
            std::cout << "using the authority in " << CaCertPath << "\n";
        } else {
            AuthorityKey = NewKey();
            Authority =
                NewCertificate(AuthorityKey.get(),
                               "Pictoport clinic CA " + (Host.empty() ? "" : Host), kAuthorityDays);
            X509_set_issuer_name(Authority.get(), X509_get_subject_name(Authority.get()));
            AddExtension(Authority.get(), Authority.get(), NID_basic_constraints,
                         "critical,CA:TRUE,pathlen:0");
            AddExtension(Authority.get(), Authority.get(), NID_key_usage,
                         "critical,keyCertSign,cRLSign");
            AddExtension(Authority.get(), Authority.get(), NID_subject_key_identifier, "hash");
            Check(X509_sign(Authority.get(), AuthorityKey.get(), EVP_sha256()) > 0,
                  "cannot sign the authority");
            WriteFile(CaKeyPath, Pem(AuthorityKey.get()), 0600);
            WriteFile(CaCertPath, Pem(Authority.get()), 0644);
            std::cout << "made a new authority: " << CaCertPath << " (trust it), " << CaKeyPath
                      << " (keep it private)\n";
        }

        std::string AltNames;
        for (const std::string& Name : Names) {
            AltNames += (AltNames.empty() ? "DNS:" : ",DNS:") + Name;
        }
        for (const std::string& Address : Addresses) {
            AltNames += ",IP:" + Address;
        }
        TKey ServerKey = NewKey();
        TCert Server =
            NewCertificate(ServerKey.get(), Host.empty() ? "localhost" : Host, kServerDays);
        X509_set_issuer_name(Server.get(), X509_get_subject_name(Authority.get()));
        AddExtension(Server.get(), Authority.get(), NID_basic_constraints, "critical,CA:FALSE");
        AddExtension(Server.get(), Authority.get(), NID_key_usage, "critical,digitalSignature");
        AddExtension(Server.get(), Authority.get(), NID_ext_key_usage, "serverAuth");
        AddExtension(Server.get(), Authority.get(), NID_subject_key_identifier, "hash");
        AddExtension(Server.get(), Authority.get(), NID_authority_key_identifier, "keyid:always");
        AddExtension(Server.get(), Authority.get(), NID_subject_alt_name, AltNames);
        Check(X509_sign(Server.get(), AuthorityKey.get(), EVP_sha256()) > 0,
              "cannot sign the server certificate");
        WriteFile(Folder + "/key.pem", Pem(ServerKey.get()), 0600);
        // The chain, so that a client that trusts the authority can build the path.
        WriteFile(Folder + "/cert.pem", Pem(Server.get()) + Pem(Authority.get()), 0644);
        std::cout << "made " << Folder << "/cert.pem and " << Folder << "/key.pem for " << AltNames
                  << "\n"
                  << "start with: scanlume-local --listen 0.0.0.0:8443 --tls-cert " << Folder
                  << "/cert.pem --tls-key " << Folder << "/key.pem --user EMAIL:PASSWORD\n";
    } catch (const TFailure& AFailure) {
        std::cerr << "scanlume-local certificate: " << AFailure.What << "\n";
        return 1;
    }
    return 0;
}

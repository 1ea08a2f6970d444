// Data protection for the current user: what is protected comes back byte for byte, the
// blob does not show it, and a blob that was changed, cut or never made is refused.
#include "platform/uWinCrypt.h"

#include "uWinCase.h"

#include <string>

namespace {

std::string Pattern(size_t ASize) {
    std::string text(ASize, '\0');
    for (size_t i = 0; i < ASize; ++i)
        text[i] = static_cast<char>((i * 131 + 7) % 256);
    return text;
}

struct TPlainRow {
    const char* Name;
    std::string Plain;
};

struct TTamperRow {
    const char* Name;
    // Makes the refused blobs from a good one.
    std::function<std::vector<std::string>(const std::string&)> Spoil;
};

std::vector<std::string> FlipEachByteOfTail(const std::string& ABlob) {
    // The tail holds the encrypted data and its signature; the header's fields are not
    // all checked by every implementation of the service.
    std::vector<std::string> blobs;
    for (size_t i = ABlob.size() * 3 / 4; i < ABlob.size(); ++i) {
        std::string spoiled = ABlob;
        spoiled[i] = static_cast<char>(spoiled[i] ^ 0x01);
        blobs.push_back(spoiled);
    }
    return blobs;
}

} // namespace

std::vector<TWinCase> CryptCases() {
    std::vector<TWinCase> cases;

    const TPlainRow plains[] = {
        {"an ASCII password", "secret-password"},
        {"a Japanese password in UTF-8",
         "\xE3\x83\x91\xE3\x82\xB9\xE3\x83\xAF\xE3\x83\xBC\xE3\x83\x89"
         "123"},
        {"bytes with NUL and 0xFF", std::string("a\0b\xFF\0", 5)},
        {"64 KiB", Pattern(65536)},
        {"nothing", std::string()},
    };
    for (const TPlainRow& row : plains) {
        cases.push_back({std::string("crypt: round trip of ") + row.Name, [row](TWinCheck& AC) {
                             const auto blob = WinCrypt::Protect(row.Plain);
                             AC.That(blob.has_value(), "Protect failed");
                             if (!blob)
                                 return;
                             AC.That(!blob->empty(), "the blob is empty");
                             if (row.Plain.size() >= 4)
                                 AC.That(blob->find(row.Plain) == std::string::npos,
                                         "the blob shows the protected text");
                             const auto plain = WinCrypt::Unprotect(*blob);
                             AC.That(plain.has_value(), "Unprotect refused the blob");
                             AC.That(plain && *plain == row.Plain,
                                     "Unprotect gave other bytes than were protected");
                         }});
    }

    const TTamperRow tampers[] = {
        {"any byte of the data or signature flipped", FlipEachByteOfTail},
        {"cut short by one byte",
         [](const std::string& ABlob) {
             return std::vector<std::string>{ABlob.substr(0, ABlob.size() - 1)};
         }},
        {"cut to its first half",
         [](const std::string& ABlob) {
             return std::vector<std::string>{ABlob.substr(0, ABlob.size() / 2)};
         }},
        {"empty", [](const std::string&) { return std::vector<std::string>{std::string()}; }},
        {"never protected",
         [](const std::string& ABlob) { return std::vector<std::string>{Pattern(ABlob.size())}; }},
    };
    for (const TTamperRow& row : tampers) {
        cases.push_back({std::string("crypt: refuses a blob ") + row.Name, [row](TWinCheck& AC) {
                             const auto blob = WinCrypt::Protect(Pattern(200));
                             AC.That(blob.has_value(), "Protect failed");
                             if (!blob)
                                 return;
                             int accepted = 0;
                             for (const std::string& spoiled : row.Spoil(*blob))
                                 if (WinCrypt::Unprotect(spoiled))
                                     ++accepted;
                             AC.That(accepted == 0,
                                     std::to_string(accepted) + " spoiled blob(s) were accepted");
                         }});
    }
    return cases;
}

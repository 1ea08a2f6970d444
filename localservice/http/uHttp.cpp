#include "http/uHttp.h"

namespace {

char LowerAscii(char C) {
    return (C >= 'A' && C <= 'Z') ? static_cast<char>(C - 'A' + 'a') : C;
}

} // namespace

bool EqualsNoCase(std::string_view A, std::string_view B) {
    if (A.size() != B.size()) {
        return false;
    }
    for (size_t i = 0; i < A.size(); ++i) {
        if (LowerAscii(A[i]) != LowerAscii(B[i])) {
            return false;
        }
    }
    return true;
}

bool StartsWithNoCase(std::string_view AText, std::string_view APrefix) {
    return AText.size() >= APrefix.size() && EqualsNoCase(AText.substr(0, APrefix.size()), APrefix);
}

std::string_view TrimBlanks(std::string_view AText) {
    while (!AText.empty() && (AText.front() == ' ' || AText.front() == '\t')) {
        AText.remove_prefix(1);
    }
    while (!AText.empty() && (AText.back() == ' ' || AText.back() == '\t')) {
        AText.remove_suffix(1);
    }
    return AText;
}

std::string TRequest::Header(std::string_view AName) const {
    for (const auto& [Name, Value] : Headers) {
        if (EqualsNoCase(Name, AName)) {
            return Value;
        }
    }
    return {};
}

bool TRequest::HasHeader(std::string_view AName) const {
    for (const auto& Entry : Headers) {
        if (EqualsNoCase(Entry.first, AName)) {
            return true;
        }
    }
    return false;
}

std::string TRequest::Param(const std::string& AName) const {
    const auto It = Params.find(AName);
    return It == Params.end() ? std::string() : It->second;
}

void ReplyJson(httplib::Response& ARes, int AStatus, const std::string& ABody) {
    ARes.status = AStatus;
    ARes.set_content(ABody, "application/json");
}

void ReplyDetail(httplib::Response& ARes, int AStatus, std::string_view AMessage) {
    ReplyJson(ARes, AStatus, DetailJson(AMessage));
}

void ReplyValidation(httplib::Response& ARes, const std::vector<TFieldError>& AErrors) {
    ReplyJson(ARes, 422, ValidationJson(AErrors));
}

std::string PercentEncode(std::string_view ABytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string Out;
    Out.reserve(ABytes.size() * 3);
    for (const char C : ABytes) {
        const auto B = static_cast<unsigned char>(C);
        const bool Unreserved = (B >= 'A' && B <= 'Z') || (B >= 'a' && B <= 'z') ||
                                (B >= '0' && B <= '9') || B == '-' || B == '.' || B == '_' ||
                                B == '~';
        if (Unreserved) {
            Out += C;
        } else {
            Out += '%';
            Out += kHex[B >> 4];
            Out += kHex[B & 0x0F];
        }
    }
    return Out;
}

bool IsForeignOrigin(const TRequest& ARequest, std::string_view AScheme) {
    if (!ARequest.HasHeader("Origin")) {
        return false;
    }
    const std::string Host = ARequest.Header("Host");
    const std::string Origin = ARequest.Header("Origin");
    const std::string_view OwnHost = TrimBlanks(Host);
    const std::string Own = std::string(AScheme) + "://" + std::string(OwnHost);
    return OwnHost.empty() || !EqualsNoCase(TrimBlanks(Origin), Own);
}

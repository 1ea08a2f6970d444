#pragma once
// The service's own view of a request, and the replies every handler uses.
#include <httplib.h>

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "http/uJson.h"

using THeaderList = std::vector<std::pair<std::string, std::string>>;

struct TRequest {
    std::string Method;
    std::string Path;   // without the query string
    std::string Target; // as received, query string included
    THeaderList Headers;
    std::string Body; // raw bytes as received, multipart forms included
    std::multimap<std::string, std::string> Params;
    std::string RemoteAddress; // the peer's IP address as text

    // The first header of that name (case-insensitive), or empty.
    std::string Header(std::string_view AName) const;
    bool HasHeader(std::string_view AName) const;
    bool HasParam(const std::string& AName) const { return Params.count(AName) > 0; }
    std::string Param(const std::string& AName) const;
};

bool EqualsNoCase(std::string_view A, std::string_view B);
bool StartsWithNoCase(std::string_view AText, std::string_view APrefix);
std::string_view TrimBlanks(std::string_view AText);

// True when the request's "Origin" names a page that this service did not serve: another
// scheme, host or port than AScheme and the request's Host. A request without one is not a
// browser page's and passes.
bool IsForeignOrigin(const TRequest& ARequest, std::string_view AScheme);

void ReplyJson(httplib::Response& ARes, int AStatus, const std::string& ABody);
void ReplyDetail(httplib::Response& ARes, int AStatus, std::string_view AMessage);
void ReplyValidation(httplib::Response& ARes, const std::vector<TFieldError>& AErrors);

// Percent-encodes every byte except the unreserved ASCII characters, so that a decoder that
// turns "+" into a blank still gives back the exact name.
std::string PercentEncode(std::string_view ABytes);

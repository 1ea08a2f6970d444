#include "sendpage/uSendPage.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <cstddef>
#include <string>

// Generated from page.html, page.css and page.js at build time (embed.cmake).
extern const char kSendPageHtml[];
extern const std::size_t kSendPageHtmlSize;
extern const char kSendPageCss[];
extern const std::size_t kSendPageCssSize;
extern const char kSendPageJs[];
extern const std::size_t kSendPageJsSize;

namespace {

std::string Sha256Source(const std::string& AText) {
    const QByteArray Hash = QCryptographicHash::hash(
        QByteArray::fromRawData(AText.data(), static_cast<qsizetype>(AText.size())),
        QCryptographicHash::Sha256);
    return "'sha256-" + Hash.toBase64().toStdString() + "'";
}

void ReplaceOnce(std::string& AText, const std::string& AMarker, const std::string& AWith) {
    const size_t At = AText.find(AMarker);
    if (At != std::string::npos) {
        AText.replace(At, AMarker.size(), AWith);
    }
}

// The style and script go inline into the page, and the policy allows exactly those two by
// their hashes: nothing else runs, nothing is loaded from elsewhere, and a form can never be
// submitted by the browser itself (which would put the password into a URL).
TSendPage BuildPage() {
    const std::string Css(kSendPageCss, kSendPageCssSize);
    const std::string Js(kSendPageJs, kSendPageJsSize);
    TSendPage Page;
    Page.Html.assign(kSendPageHtml, kSendPageHtmlSize);
    ReplaceOnce(Page.Html, "<!-- style -->", "<style>" + Css + "</style>");
    ReplaceOnce(Page.Html, "<!-- script -->", "<script>" + Js + "</script>");
    Page.Policy = "default-src 'none'; style-src " + Sha256Source(Css) + "; script-src " +
                  Sha256Source(Js) +
                  "; connect-src 'self'; img-src 'self' data: blob:; form-action 'none'; "
                  "base-uri 'none'; frame-ancestors 'none'";
    return Page;
}

} // namespace

const TSendPage& SendPage() {
    static const TSendPage Built = BuildPage();
    return Built;
}

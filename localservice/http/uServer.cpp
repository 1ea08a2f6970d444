#include "http/uServer.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>

#include <sys/socket.h>

#include "sendpage/uSendPage.h"

namespace {

// Long polls each hold a worker thread while they wait; FQueues lets at most kMaxWaitingPolls
// of them wait, so the rest of the pool always serves sign-ins and sends.
constexpr size_t kWorkerThreads = 192;
constexpr size_t kMaxWaitingPolls = 160;
// A body of at most this announced length is read even when the token turns out to be bad:
// the connection can then stay open, and the record keeps the whole request. It is also the
// most any route without a large body reads (sign-in, stop, the page, unknown paths).
constexpr unsigned long long kSmallBody = 64u * 1024;
constexpr size_t kRecognitionEngines = 2;

// cpp-httplib parses multipart bodies itself and then drops the raw bytes, which the record and
// our own form reader need. A blank in front of the media type hides the form from it; a
// received header value never starts with a blank because the library trims them.
constexpr char kMultipartMask = ' ';

// Set while a scripted response is answered: it must go out exactly as scripted.
thread_local bool GRawResponse = false;
// When the request now served on this thread began, for the request log.
thread_local std::chrono::steady_clock::time_point GRequestStart{};

// One line for the operator: when, who, what and how it ended. Never a body, a query string
// (it may carry a token), a header or a password; bytes that could fake a line are masked.
void LogRequest(const httplib::Request& AReq, const httplib::Response& ARes) {
    const auto Now = std::chrono::system_clock::now();
    const std::time_t Seconds = std::chrono::system_clock::to_time_t(Now);
    const long long Millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(Now.time_since_epoch()).count() %
        1000;
    std::tm Utc{};
    gmtime_r(&Seconds, &Utc);
    char When[32];
    std::strftime(When, sizeof(When), "%Y-%m-%dT%H:%M:%S", &Utc);
    std::string Path = AReq.path.substr(0, 200);
    for (char& C : Path) {
        if (static_cast<unsigned char>(C) < 0x20 || C == 0x7F || C == ' ') {
            C = '?';
        }
    }
    std::string Method = AReq.method.substr(0, 16);
    for (char& C : Method) {
        if (C < 'A' || C > 'Z') {
            C = '?';
        }
    }
    size_t Bytes = ARes.body.size();
    if (const std::string Length = ARes.get_header_value("Content-Length"); !Length.empty()) {
        Bytes = std::strtoull(Length.c_str(), nullptr, 10);
    }
    const long long Elapsed = GRequestStart == std::chrono::steady_clock::time_point{}
                                  ? 0
                                  : std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now() - GRequestStart)
                                        .count();
    char Line[512];
    const int Length = std::snprintf(Line, sizeof(Line), "%s.%03lldZ %s %s %s %d %zu B %lld ms\n",
                                     When, Millis, AReq.remote_addr.c_str(), Method.c_str(),
                                     Path.c_str(), ARes.status, Bytes, Elapsed);
    // One write per line, so that lines of requests served at once do not mix.
    if (Length > 0) {
        std::fwrite(Line, 1, std::min(static_cast<size_t>(Length), sizeof(Line) - 1), stderr);
        std::fflush(stderr);
    }
}

void HideMultipart(const httplib::Request& AReq) {
    auto& Req = const_cast<httplib::Request&>(AReq); // the library hands over a mutable object
    const auto Range = Req.headers.equal_range("Content-Type");
    for (auto It = Range.first; It != Range.second; ++It) {
        if (It->second.rfind("multipart/form-data", 0) == 0) {
            It->second.insert(It->second.begin(), kMultipartMask);
        }
    }
}

// The Content-Length header's value; 0 when there is none or it is not a plain number.
unsigned long long AnnouncedLength(const httplib::Request& AReq) {
    const std::string Value = AReq.get_header_value("Content-Length");
    if (Value.empty() || Value.size() > 19 ||
        Value.find_first_not_of("0123456789") != std::string::npos) {
        return 0;
    }
    return std::stoull(Value);
}

bool IsChunked(const httplib::Request& AReq) {
    const auto Range = AReq.headers.equal_range("Transfer-Encoding");
    for (auto It = Range.first; It != Range.second; ++It) {
        if (It->second.find("chunked") != std::string::npos) {
            return true;
        }
    }
    return false;
}

// A chunked body, or one without a length (read until the peer closes), may be of any size.
bool MayBeLarge(const httplib::Request& AReq) {
    return IsChunked(AReq) || !AReq.has_header("Content-Length") ||
           AnnouncedLength(AReq) > kSmallBody;
}

bool IsConnectionPseudoHeader(const std::string& AName) {
    return AName == "REMOTE_ADDR" || AName == "REMOTE_PORT" || AName == "LOCAL_ADDR" ||
           AName == "LOCAL_PORT";
}

// Everything but the body.
TRequest MakeRequest(const httplib::Request& ARaw) {
    TRequest Request;
    Request.Method = ARaw.method;
    Request.Path = ARaw.path;
    Request.Target = ARaw.target;
    Request.Params.insert(ARaw.params.begin(), ARaw.params.end());
    Request.RemoteAddress = ARaw.remote_addr;
    for (const auto& [Name, Value] : ARaw.headers) {
        if (IsConnectionPseudoHeader(Name)) {
            continue;
        }
        if (EqualsNoCase(Name, "Content-Type") && !Value.empty() && Value[0] == kMultipartMask) {
            Request.Headers.emplace_back(Name, Value.substr(1));
        } else {
            Request.Headers.emplace_back(Name, Value);
        }
    }
    return Request;
}

std::string ErrorText(int AStatus) {
    switch (AStatus) {
    case 400:
        return "リクエストの形式が不正です";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 414:
        return "URL が長すぎます";
    default:
        return "HTTP " + std::to_string(AStatus);
    }
}

std::string TooLargeText(size_t AMaxBody) {
    const std::string Limit = AMaxBody >= (1u << 20) ? std::to_string(AMaxBody >> 20) + " MiB"
                                                     : std::to_string(AMaxBody >> 10) + " KiB";
    return "リクエストが大きすぎます（" + Limit + " まで）";
}

std::string UrlHost(const std::string& AHost) {
    return AHost.find(':') != std::string::npos ? "[" + AHost + "]" : AHost;
}

// Answers "/" and "/send" (GET and HEAD give the page, other methods 405); false for any
// other path.
bool ServeSendPage(const TRequest& ARequest, httplib::Response& ARes) {
    if (ARequest.Path != "/" && ARequest.Path != "/send") {
        return false;
    }
    if (ARequest.Method != "GET" && ARequest.Method != "HEAD") {
        ARes.set_header("Allow", "GET, HEAD");
        ReplyDetail(ARes, 405, "Method Not Allowed");
        return true;
    }
    const TSendPage& Page = SendPage();
    ARes.status = 200;
    ARes.set_header("Content-Security-Policy", Page.Policy);
    ARes.set_header("Cache-Control", "no-store");
    ARes.set_header("X-Content-Type-Options", "nosniff");
    ARes.set_header("Referrer-Policy", "no-referrer");
    ARes.set_content(Page.Html, "text/html; charset=utf-8");
    return true;
}

// Refuses the rest of a request without reading it; the library then closes the connection.
void ReplyAndClose(httplib::Response& ARes, int AStatus, std::string_view AMessage) {
    ReplyDetail(ARes, AStatus, AMessage);
    ARes.set_header("Connection", "close");
}

} // namespace

TServer::TServer(const TServerOptions& AOptions, TServiceStore& AStore)
    : FOptions(AOptions), FMaxBody(static_cast<size_t>(AOptions.MaxBodyMiB) << 20),
      FAccounts(AOptions.Accounts, &AStore),
      FQueues(AStore, kMaxWaitingPolls,
              static_cast<unsigned long long>(AOptions.MaxQueuedMiB) << 20),
      FItems(AStore), FRecognizer(kRecognitionEngines),
      FHooks(AOptions.TestHooks ? std::make_unique<TTestHooks>() : nullptr),
      FApi(FAccounts, FQueues, FItems, FRecognizer, AOptions.MaxWaitSeconds) {
    if (!AOptions.TlsCert.empty()) {
        FServer =
            std::make_unique<httplib::SSLServer>(AOptions.TlsCert.c_str(), AOptions.TlsKey.c_str());
    } else {
        FServer = std::make_unique<httplib::Server>();
    }
}

TServer::~TServer() = default;

bool TServer::Run(std::string& AError, const std::function<void(int APort)>& AListening) {
    const bool Tls = !FOptions.TlsCert.empty();
    if (!FServer->is_valid()) {
        AError = "cannot load the TLS certificate \"" + FOptions.TlsCert + "\" or key \"" +
                 FOptions.TlsKey + "\"";
        return false;
    }

    // Items that waited when the service last stopped are handed out again.
    if (!FQueues.Load()) {
        AError = "cannot read the waiting items from the data folder";
        return false;
    }
    if (FOptions.Preload) {
        FRecognizer.Preload();
    }
    FServer->new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    // The library's default adds SO_REUSEPORT, which would let a second service share the port
    // silently instead of reporting it as taken.
    FServer->set_socket_options([](socket_t ASocket) {
        const int On = 1;
        setsockopt(ASocket, SOL_SOCKET, SO_REUSEADDR, &On, sizeof(On));
    });
    FServer->set_payload_max_length(FMaxBody);
    // Answers go out at once: with Nagle's algorithm a small answer (a 202, the headers
    // before a body) waits for the peer's delayed acknowledgement, some 40 ms.
    FServer->set_tcp_nodelay(true);
    FServer->set_pre_routing_handler([this](const httplib::Request& AReq, httplib::Response& ARes) {
        GRawResponse = false;
        GRequestStart = std::chrono::steady_clock::now();
        // Refused before the body is read: the library would first read and discard it all.
        if (AnnouncedLength(AReq) > FMaxBody) {
            ReplyAndClose(ARes, 413, TooLargeText(FMaxBody));
            return httplib::Server::HandlerResponse::Handled;
        }
        HideMultipart(AReq);
        return httplib::Server::HandlerResponse::Unhandled;
    });
    const auto Dispatcher = [this](const httplib::Request& AReq, httplib::Response& ARes) {
        DispatchWithoutBody(AReq, ARes);
    };
    // The library's own reading caps only a body with a Content-Length; a chunked one, one
    // without a length and a compressed one it would read whole.
    const auto BodyDispatcher = [this](const httplib::Request& AReq, httplib::Response& ARes,
                                       const httplib::ContentReader& AReader) {
        DispatchWithBody(AReq, ARes, AReader);
    };
    const std::string Any = ".*";
    FServer->Get(Any, Dispatcher);
    FServer->Options(Any, Dispatcher);
    FServer->Post(Any, BodyDispatcher);
    FServer->Put(Any, BodyDispatcher);
    FServer->Patch(Any, BodyDispatcher);
    FServer->Delete(Any, BodyDispatcher);
    // Errors the library answers by itself (malformed requests, bodies over the limit) get
    // a JSON detail like every other error.
    FServer->set_error_handler(httplib::Server::HandlerWithResponse(
        [this](const httplib::Request&, httplib::Response& ARes) {
            if (GRawResponse || !ARes.body.empty()) {
                return httplib::Server::HandlerResponse::Unhandled;
            }
            const std::string Text =
                ARes.status == 413 ? TooLargeText(FMaxBody) : ErrorText(ARes.status);
            ARes.set_content(DetailJson(Text), "application/json");
            return httplib::Server::HandlerResponse::Handled;
        }));
    FServer->set_exception_handler(
        [](const httplib::Request&, httplib::Response& ARes, std::exception_ptr) {
            ReplyDetail(ARes, 500, "内部エラー");
        });
    FServer->set_logger([this](const httplib::Request& AReq, const httplib::Response& ARes) {
        GRawResponse = false;
        if (FOptions.LogRequests) {
            LogRequest(AReq, ARes);
        }
        GRequestStart = {};
    });

    int Port = FOptions.Port;
    if (Port == 0) {
        Port = FServer->bind_to_any_port(FOptions.Host);
    } else if (!FServer->bind_to_port(FOptions.Host, Port)) {
        Port = -1;
    }
    if (Port < 0) {
        AError = "cannot listen on " + UrlHost(FOptions.Host) + ":" + std::to_string(FOptions.Port);
        return false;
    }
    std::cout << "listening on " << (Tls ? "https" : "http") << "://" << UrlHost(FOptions.Host)
              << ":" << Port << std::endl;
    if (AListening) {
        AListening(Port);
    }
    if (!FStopRequested) {
        FServer->listen_after_bind();
    }
    return true;
}

void TServer::Stop() {
    FStopRequested = true;
    FQueues.Shutdown();
    FServer->stop();
}

void TServer::DispatchWithoutBody(const httplib::Request& ARaw, httplib::Response& ARes) {
    TRequest Request = MakeRequest(ARaw);
    Request.Body = ARaw.body;
    Dispatch(Request, ARes);
}

void TServer::DispatchWithBody(const httplib::Request& ARaw, httplib::Response& ARes,
                               const httplib::ContentReader& AReader) {
    TRequest Request = MakeRequest(ARaw);
    const bool Scripted = FHooks && FHooks->HasScript(Request.Path);
    // Nobody without an account makes the service hold more than this in memory.
    const size_t Limit =
        Scripted || TTestHooks::IsHookPath(Request.Path) || FApi.TakesLargeBody(Request)
            ? FMaxBody
            : static_cast<size_t>(kSmallBody);
    if (AnnouncedLength(ARaw) > Limit) {
        ReplyAndClose(ARes, 413, TooLargeText(Limit));
        return;
    }
    if (!Scripted && MayBeLarge(ARaw) &&
        (RefuseForeignOrigin(Request, ARes) || FApi.RefuseWithoutToken(Request, ARes))) {
        if (FHooks) {
            FHooks->Record(Request);
        }
        ARes.set_header("Connection", "close");
        return;
    }
    // A photo's announced length at once: growing by doubling would copy it twice over.
    Request.Body.reserve(static_cast<size_t>(AnnouncedLength(ARaw)));
    bool TooLarge = false;
    const bool Complete = AReader([&](const char* AData, size_t ALength) {
        // Counts the bytes after the library has undone a Content-Encoding.
        if (ALength > Limit - Request.Body.size()) {
            TooLarge = true;
            return false;
        }
        // Grows by doubling only up to the limit, not to twice it.
        if (Request.Body.size() + ALength > Request.Body.capacity()) {
            Request.Body.reserve(std::min(
                Limit, std::max(Request.Body.capacity() * 2, Request.Body.size() + ALength)));
        }
        Request.Body.append(AData, ALength);
        return true;
    });
    if (TooLarge) {
        ReplyAndClose(ARes, 413, TooLargeText(Limit));
        return;
    }
    if (!Complete) {
        ReplyAndClose(ARes, 400, ErrorText(400));
        return;
    }
    Dispatch(Request, ARes);
}

void TServer::Dispatch(const TRequest& ARequest, httplib::Response& ARes) {
    try {
        if (TTestHooks::IsHookPath(ARequest.Path)) {
            if (FHooks) {
                FHooks->Handle(ARequest, ARes);
            } else {
                ReplyDetail(ARes, 404, "Not Found");
            }
            return;
        }
        if (FHooks) {
            FHooks->Record(ARequest);
            if (auto Script = FHooks->TakeScript(ARequest.Path)) {
                GRawResponse = true;
                ApplyScript(*Script, ARes);
                return;
            }
        }
        if (ServeSendPage(ARequest, ARes) || RefuseForeignOrigin(ARequest, ARes)) {
            return;
        }
        FApi.Handle(ARequest, ARes);
    } catch (const std::exception& AError) {
        GRawResponse = false;
        ARes.headers.clear();
        ReplyDetail(ARes, 500, std::string("内部エラー: ") + AError.what());
    }
}

bool TServer::RefuseForeignOrigin(const TRequest& ARequest, httplib::Response& ARes) const {
    if (TTestHooks::IsHookPath(ARequest.Path) ||
        !IsForeignOrigin(ARequest, FOptions.TlsCert.empty() ? "http" : "https")) {
        return false;
    }
    ReplyDetail(ARes, 403, "ほかのサイトのページからは利用できません");
    return true;
}

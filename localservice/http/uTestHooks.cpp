#include "http/uTestHooks.h"

#include <QByteArray>

#include <chrono>
#include <memory>
#include <thread>

namespace {

constexpr int kMaxDelayMs = 600'000;
constexpr size_t kChunk = 64 * 1024;

bool IsTokenChar(char C) {
    const auto B = static_cast<unsigned char>(C);
    return B > 32 && B < 127 && C != ':' && C != '(' && C != ')' && C != ',' && C != ';' &&
           C != '"' && C != '/' && C != '[' && C != ']' && C != '?' && C != '=' && C != '{' &&
           C != '}' && C != '\\' && C != '<' && C != '>' && C != '@';
}

bool IsHeaderName(const std::string& AName) {
    if (AName.empty()) {
        return false;
    }
    for (const char C : AName) {
        if (!IsTokenChar(C)) {
            return false;
        }
    }
    return true;
}

bool IsHeaderValue(const std::string& AValue) {
    return AValue.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

std::string StringOf(const rapidjson::Value& AValue) {
    return std::string(AValue.GetString(), AValue.GetStringLength());
}

// Validates and reads the JSON description of a script; every fault goes to AErrors.
std::optional<TScript> ReadScript(const rapidjson::Value& ARoot,
                                  std::vector<TFieldError>& AErrors) {
    const auto Fail = [&](std::vector<std::variant<std::string, int>> ALoc, std::string AMsg,
                          std::string AType) {
        ALoc.insert(ALoc.begin(), std::string("body"));
        AErrors.push_back({std::move(ALoc), std::move(AMsg), std::move(AType)});
    };
    if (!ARoot.IsObject()) {
        Fail({}, "JSON オブジェクトを送ってください", "type_error.dict");
        return std::nullopt;
    }
    TScript Script;
    if (!ARoot.HasMember("path") || !ARoot["path"].IsString() ||
        ARoot["path"].GetStringLength() == 0 || ARoot["path"].GetString()[0] != '/') {
        Fail({std::string("path")}, "\"/\" で始まるパスを指定してください", "value_error");
    } else {
        Script.Path = StringOf(ARoot["path"]);
    }
    if (ARoot.HasMember("status")) {
        const auto& Status = ARoot["status"];
        if (!Status.IsInt() || Status.GetInt() < 200 || Status.GetInt() > 599) {
            Fail({std::string("status")}, "status は 200 から 599 の整数です", "value_error");
        } else {
            Script.Status = Status.GetInt();
        }
    }
    if (ARoot.HasMember("headers")) {
        const auto& Headers = ARoot["headers"];
        if (!Headers.IsArray()) {
            Fail({std::string("headers")}, "headers は [名前, 値] の配列です", "type_error.list");
        } else {
            for (rapidjson::SizeType i = 0; i < Headers.Size(); ++i) {
                const auto& Pair = Headers[i];
                const int Index = static_cast<int>(i);
                if (!Pair.IsArray() || Pair.Size() != 2 || !Pair[0].IsString() ||
                    !Pair[1].IsString()) {
                    Fail({std::string("headers"), Index}, "[名前, 値] の文字列の組が必要です",
                         "type_error");
                    continue;
                }
                std::string Name = StringOf(Pair[0]);
                std::string Value = StringOf(Pair[1]);
                if (!IsHeaderName(Name) || !IsHeaderValue(Value)) {
                    Fail({std::string("headers"), Index}, "ヘッダーの名前か値が不正です",
                         "value_error");
                } else if (EqualsNoCase(Name, "Content-Length") ||
                           EqualsNoCase(Name, "Transfer-Encoding")) {
                    Fail({std::string("headers"), Index},
                         "Content-Length と Transfer-Encoding はサービスが設定します",
                         "value_error");
                } else {
                    Script.Headers.emplace_back(std::move(Name), std::move(Value));
                }
            }
        }
    }
    if (ARoot.HasMember("body_base64")) {
        const auto& Body = ARoot["body_base64"];
        const auto Decoded =
            Body.IsString()
                ? QByteArray::fromBase64Encoding(
                      QByteArray(Body.GetString(), static_cast<qsizetype>(Body.GetStringLength())),
                      QByteArray::AbortOnBase64DecodingErrors)
                : QByteArray::FromBase64Result{};
        if (!Body.IsString() || !Decoded) {
            Fail({std::string("body_base64")}, "Base64 の文字列を指定してください", "value_error");
        } else {
            Script.Body = Decoded.decoded.toStdString();
        }
    }
    if (ARoot.HasMember("content_encoding")) {
        const auto& Encoding = ARoot["content_encoding"];
        const std::string Name = Encoding.IsString() ? StringOf(Encoding) : std::string("?");
        if (Name == "gzip") {
            Script.Encoding = TCompression::Gzip;
        } else if (Name == "deflate") {
            Script.Encoding = TCompression::Zlib;
        } else if (Name == "raw-deflate") {
            Script.Encoding = TCompression::RawDeflate;
        } else if (!Name.empty()) {
            Fail({std::string("content_encoding")},
                 "content_encoding は \"\", \"gzip\", \"deflate\", \"raw-deflate\" のどれかです",
                 "value_error");
        }
    }
    if (ARoot.HasMember("delay_ms")) {
        const auto& Delay = ARoot["delay_ms"];
        if (!Delay.IsInt() || Delay.GetInt() < 0 || Delay.GetInt() > kMaxDelayMs) {
            Fail({std::string("delay_ms")}, "delay_ms は 0 から 600000 の整数です", "value_error");
        } else {
            Script.DelayMs = Delay.GetInt();
        }
    }
    if (ARoot.HasMember("trickle_ms")) {
        const auto& Trickle = ARoot["trickle_ms"];
        if (!Trickle.IsInt() || Trickle.GetInt() < 0 || Trickle.GetInt() > kMaxDelayMs) {
            Fail({std::string("trickle_ms")}, "trickle_ms は 0 から 600000 の整数です",
                 "value_error");
        } else {
            Script.TrickleMs = Trickle.GetInt();
        }
    }
    if (ARoot.HasMember("drop")) {
        if (!ARoot["drop"].IsBool()) {
            Fail({std::string("drop")}, "drop は true か false です", "type_error.bool");
        } else {
            Script.Drop = ARoot["drop"].GetBool();
        }
    }
    if (!AErrors.empty()) {
        return std::nullopt;
    }
    return Script;
}

std::string Base64(const std::string& ABytes) {
    return QByteArray::fromRawData(ABytes.data(), static_cast<qsizetype>(ABytes.size()))
        .toBase64()
        .toStdString();
}

} // namespace

bool TTestHooks::IsHookPath(const std::string& APath) {
    return APath == "/_test" || APath.rfind("/_test/", 0) == 0;
}

void TTestHooks::Handle(const TRequest& ARequest, httplib::Response& ARes) {
    const auto MethodIs = [&](const char* AMethod) {
        if (ARequest.Method == AMethod) {
            return true;
        }
        ARes.set_header("Allow", AMethod);
        ReplyDetail(ARes, 405, "Method Not Allowed");
        return false;
    };
    if (ARequest.Path == "/_test/script") {
        if (MethodIs("POST")) {
            AddScript(ARequest, ARes);
        }
    } else if (ARequest.Path == "/_test/requests") {
        if (MethodIs("GET")) {
            ListRequests(ARes);
        }
    } else if (ARequest.Path == "/_test/reset") {
        if (MethodIs("POST")) {
            Reset(ARes);
        }
    } else {
        ReplyDetail(ARes, 404, "Not Found");
    }
}

void TTestHooks::AddScript(const TRequest& ARequest, httplib::Response& ARes) {
    rapidjson::Document Doc;
    if (!ParseJson(ARequest.Body, Doc)) {
        ReplyValidation(
            ARes, {{{std::string("body")}, "JSON として読めません", "value_error.jsondecode"}});
        return;
    }
    std::vector<TFieldError> Errors;
    std::optional<TScript> Script = ReadScript(Doc, Errors);
    if (!Script) {
        ReplyValidation(ARes, Errors);
        return;
    }
    {
        std::lock_guard Guard(FLock);
        FScripts[Script->Path].push_back(std::move(*Script));
    }
    ReplyJson(ARes, 200, R"({"ok":true})");
}

void TTestHooks::ListRequests(httplib::Response& ARes) {
    std::vector<TRequest> Record;
    {
        std::lock_guard Guard(FLock);
        Record = FRecord;
    }
    ReplyJson(ARes, 200, BuildJson([&](TJsonWriter& W) {
                  W.StartObject();
                  W.Key("requests");
                  W.StartArray();
                  for (const TRequest& Request : Record) {
                      W.StartObject();
                      W.Key("method");
                      WriteString(W, Request.Method);
                      W.Key("path");
                      WriteString(W, Request.Path);
                      W.Key("target");
                      WriteString(W, Request.Target);
                      W.Key("headers");
                      W.StartArray();
                      for (const auto& [Name, Value] : Request.Headers) {
                          W.StartArray();
                          WriteString(W, Name);
                          WriteString(W, Value);
                          W.EndArray();
                      }
                      W.EndArray();
                      W.Key("body_base64");
                      WriteString(W, Base64(Request.Body));
                      W.EndObject();
                  }
                  W.EndArray();
                  W.EndObject();
              }));
}

void TTestHooks::Reset(httplib::Response& ARes) {
    {
        std::lock_guard Guard(FLock);
        FScripts.clear();
        FRecord.clear();
    }
    ReplyJson(ARes, 200, R"({"ok":true})");
}

void TTestHooks::Record(const TRequest& ARequest) {
    std::lock_guard Guard(FLock);
    FRecord.push_back(ARequest);
}

std::optional<TScript> TTestHooks::TakeScript(const std::string& APath) {
    std::lock_guard Guard(FLock);
    const auto It = FScripts.find(APath);
    if (It == FScripts.end() || It->second.empty()) {
        return std::nullopt;
    }
    TScript Script = std::move(It->second.front());
    It->second.pop_front();
    return Script;
}

bool TTestHooks::HasScript(const std::string& APath) {
    std::lock_guard Guard(FLock);
    const auto It = FScripts.find(APath);
    return It != FScripts.end() && !It->second.empty();
}

void ApplyScript(const TScript& AScript, httplib::Response& ARes) {
    if (AScript.DelayMs > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(AScript.DelayMs));
    }
    ARes.status = AScript.Status;

    std::string Body = AScript.Body;
    if (AScript.Encoding) {
        auto Compressed = Compress(Body, *AScript.Encoding);
        if (!Compressed) {
            ReplyDetail(ARes, 500, "本文を圧縮できません");
            return;
        }
        Body = std::move(*Compressed);
    }

    std::optional<std::string> ContentType;
    bool HasEncoding = false;
    for (const auto& [Name, Value] : AScript.Headers) {
        if (EqualsNoCase(Name, "Content-Type") && !ContentType) {
            ContentType = Value; // handed to the content provider below
            continue;
        }
        HasEncoding = HasEncoding || EqualsNoCase(Name, "Content-Encoding");
        ARes.headers.emplace(Name, Value);
    }
    if (AScript.Encoding && !HasEncoding) {
        ARes.set_header("Content-Encoding",
                        *AScript.Encoding == TCompression::Gzip ? "gzip" : "deflate");
    }

    if (Body.empty() && !AScript.Drop) {
        if (ContentType) {
            ARes.set_header("Content-Type", *ContentType);
        }
        return;
    }
    // cpp-httplib always sends a Content-Type with a body; without one in the script it is
    // sent empty. A content provider also keeps the library from compressing the body again.
    auto Shared = std::make_shared<const std::string>(std::move(Body));
    if (AScript.Drop) {
        // Announces one byte more than it sends, then closes: the client sees a cut-off body.
        ARes.set_content_provider(Shared->size() + 1, ContentType.value_or(std::string()),
                                  [Shared](size_t, size_t, httplib::DataSink& ASink) {
                                      const size_t Half = Shared->size() / 2;
                                      if (Half > 0) {
                                          ASink.write(Shared->data(), Half);
                                      }
                                      return false;
                                  });
        return;
    }
    if (AScript.TrickleMs > 0) {
        // A body that keeps moving, too slowly to ever be worth waiting for.
        ARes.set_content_provider(
            Shared->size(), ContentType.value_or(std::string()),
            [Shared, Ms = AScript.TrickleMs](size_t AOffset, size_t, httplib::DataSink& ASink) {
                std::this_thread::sleep_for(std::chrono::milliseconds(Ms));
                return ASink.write(Shared->data() + AOffset, 1);
            });
        return;
    }
    ARes.set_content_provider(Shared->size(), ContentType.value_or(std::string()),
                              [Shared](size_t AOffset, size_t ALength, httplib::DataSink& ASink) {
                                  return ASink.write(Shared->data() + AOffset,
                                                     std::min(ALength, kChunk));
                              });
}

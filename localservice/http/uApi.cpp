#include "http/uApi.h"

#include <QString>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <memory>

#include "extraction/uExtraction.h"
#include "extraction/uNameCorrection.h"
#include "http/uMultipart.h"
#include "reading/uUnitCorrection.h"

namespace {

using TLoc = std::vector<std::variant<std::string, int>>;

constexpr size_t kChunk = 64 * 1024;
// A lab report's recognised text is a few KiB; extraction takes time in proportion to the
// text, and the JSON body holding it is refused before it is parsed when it cannot fit.
constexpr size_t kMaxExtractText = 256 * 1024;
constexpr size_t kMaxExtractBody = 8 * kMaxExtractText; // "\u0001" is 6 bytes for 1
const char* const kExtractTooLarge = "テキストが長すぎます（256 KiB まで）";
constexpr size_t kMaxItems = 1000;
constexpr size_t kMaxAliases = 100;
constexpr size_t kMaxNameBytes = 200;
constexpr size_t kMaxFilenameBytes = 1024;

const char* const kTextContentType = "text/plain; charset=utf-8";
const char* const kTextFilename = "result.txt";

// No control characters: the text goes into a response header as it is.
bool IsHeaderSafe(std::string_view AText) {
    for (const char C : AText) {
        const auto B = static_cast<unsigned char>(C);
        if ((B < 0x20 && B != '\t') || B == 0x7F) {
            return false;
        }
    }
    return true;
}

std::string StringOf(const rapidjson::Value& AValue) {
    return std::string(AValue.GetString(), AValue.GetStringLength());
}

void ReplyBadJson(httplib::Response& ARes) {
    ReplyValidation(
        ARes, {{TLoc{std::string("body")}, "JSON として読めません", "value_error.jsondecode"}});
}

// A JSON object body, or a 422 answer saying what is wrong with it.
bool ParseObjectBody(const std::string& ABody, rapidjson::Document& ADoc, httplib::Response& ARes) {
    if (!ParseJson(ABody, ADoc)) {
        ReplyBadJson(ARes);
        return false;
    }
    if (!ADoc.IsObject()) {
        ReplyValidation(ARes, {{TLoc{std::string("body")}, "JSON オブジェクトを送ってください",
                                "type_error.dict"}});
        return false;
    }
    return true;
}

void ReplyFormError(httplib::Response& ARes, const std::string& AMessage) {
    ReplyValidation(ARes, {{TLoc{std::string("body")}, AMessage, "value_error.multipart"}});
}

// A required string member; a missing or mistyped one goes to AErrors.
std::optional<std::string> RequiredString(const rapidjson::Value& AObject, const char* AName,
                                          TLoc ALoc, std::vector<TFieldError>& AErrors) {
    ALoc.emplace_back(std::string(AName));
    if (!AObject.HasMember(AName)) {
        AErrors.push_back({std::move(ALoc), "必須項目です", "value_error.missing"});
        return std::nullopt;
    }
    if (!AObject[AName].IsString()) {
        AErrors.push_back({std::move(ALoc), "文字列を指定してください", "type_error.str"});
        return std::nullopt;
    }
    return StringOf(AObject[AName]);
}

// Integer text with an optional sign; values beyond the int range saturate.
bool ParseInteger(const std::string& AText, int& AValue) {
    size_t Pos = 0;
    bool Negative = false;
    if (Pos < AText.size() && (AText[Pos] == '+' || AText[Pos] == '-')) {
        Negative = AText[Pos] == '-';
        ++Pos;
    }
    if (Pos == AText.size()) {
        return false;
    }
    long long Value = 0;
    for (; Pos < AText.size(); ++Pos) {
        if (AText[Pos] < '0' || AText[Pos] > '9') {
            return false;
        }
        Value = std::min<long long>(Value * 10 + (AText[Pos] - '0'), 1'000'000'000LL);
    }
    AValue = static_cast<int>(Negative ? -Value : Value);
    return true;
}

bool ParseFormBool(std::string AText, bool& AValue) {
    for (char& C : AText) {
        C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
    }
    if (AText == "true" || AText == "1" || AText == "yes" || AText == "on") {
        AValue = true;
        return true;
    }
    if (AText == "false" || AText == "0" || AText == "no" || AText == "off" || AText.empty()) {
        AValue = false;
        return true;
    }
    return false;
}

void WriteItems(TJsonWriter& W, const std::vector<TExtractItem>& AItems) {
    W.StartArray();
    for (const auto& Item : AItems) {
        W.StartObject();
        W.Key("name");
        WriteString(W, Item.Name);
        W.Key("aliases");
        W.StartArray();
        for (const auto& Alias : Item.Aliases) {
            WriteString(W, Alias);
        }
        W.EndArray();
        W.EndObject();
    }
    W.EndArray();
}

std::optional<std::vector<TExtractItem>> ReadItems(const rapidjson::Value& ARoot,
                                                   std::vector<TFieldError>& AErrors) {
    if (!ARoot.IsObject()) {
        AErrors.push_back(
            {TLoc{std::string("body")}, "JSON オブジェクトを送ってください", "type_error.dict"});
        return std::nullopt;
    }
    const TLoc ItemsLoc{std::string("body"), std::string("items")};
    if (!ARoot.HasMember("items")) {
        AErrors.push_back({ItemsLoc, "必須項目です", "value_error.missing"});
        return std::nullopt;
    }
    const auto& Items = ARoot["items"];
    if (!Items.IsArray()) {
        AErrors.push_back({ItemsLoc, "配列を指定してください", "type_error.list"});
        return std::nullopt;
    }
    if (Items.Size() > kMaxItems) {
        AErrors.push_back({ItemsLoc, "項目は 1000 個までです", "value_error.list.max_items"});
        return std::nullopt;
    }
    std::vector<TExtractItem> Result;
    for (rapidjson::SizeType i = 0; i < Items.Size(); ++i) {
        TLoc Loc = ItemsLoc;
        Loc.emplace_back(static_cast<int>(i));
        const auto& Element = Items[i];
        if (!Element.IsObject()) {
            AErrors.push_back({Loc, "オブジェクトを指定してください", "type_error.dict"});
            continue;
        }
        TExtractItem Item;
        if (auto Name = RequiredString(Element, "name", Loc, AErrors)) {
            TLoc NameLoc = Loc;
            NameLoc.emplace_back(std::string("name"));
            if (Name->find_first_not_of(" \t\r\n") == std::string::npos) {
                AErrors.push_back({NameLoc, "項目名が空です", "value_error.any_str.min_length"});
            } else if (Name->size() > kMaxNameBytes) {
                AErrors.push_back(
                    {NameLoc, "項目名が長すぎます", "value_error.any_str.max_length"});
            }
            Item.Name = std::move(*Name);
        }
        TLoc AliasLoc = Loc;
        AliasLoc.emplace_back(std::string("aliases"));
        if (!Element.HasMember("aliases")) {
            AErrors.push_back({AliasLoc, "必須項目です", "value_error.missing"});
        } else if (!Element["aliases"].IsArray()) {
            AErrors.push_back({AliasLoc, "文字列の配列を指定してください", "type_error.list"});
        } else if (Element["aliases"].Size() > kMaxAliases) {
            AErrors.push_back({AliasLoc, "別名は 100 個までです", "value_error.list.max_items"});
        } else {
            const auto& Aliases = Element["aliases"];
            for (rapidjson::SizeType j = 0; j < Aliases.Size(); ++j) {
                TLoc OneLoc = AliasLoc;
                OneLoc.emplace_back(static_cast<int>(j));
                if (!Aliases[j].IsString()) {
                    AErrors.push_back({OneLoc, "文字列を指定してください", "type_error.str"});
                } else if (Aliases[j].GetStringLength() > kMaxNameBytes) {
                    AErrors.push_back(
                        {OneLoc, "別名が長すぎます", "value_error.any_str.max_length"});
                } else {
                    Item.Aliases.push_back(StringOf(Aliases[j]));
                }
            }
        }
        Result.push_back(std::move(Item));
    }
    if (!AErrors.empty()) {
        return std::nullopt;
    }
    return Result;
}

void WriteNullableText(TJsonWriter& W, const QString& AText) {
    if (AText.isEmpty()) {
        W.Null();
    } else {
        WriteString(W, AText.toStdString());
    }
}

} // namespace

TApi::TApi(TAccounts& AAccounts, TItemQueues& AQueues, TItemStore& AItems, TRecognizer& ARecognizer,
           int AMaxWaitSeconds)
    : FAccounts(AAccounts), FQueues(AQueues), FItems(AItems), FRecognizer(ARecognizer),
      FMaxWaitSeconds(AMaxWaitSeconds) {}

namespace {
// A multipart form body, or a 422 answer saying what is wrong with it.
bool ParseFormBody(const TRequest& ARequest, std::vector<TFormPart>& AParts,
                   httplib::Response& ARes) {
    std::string error;
    if (ParseMultipart(ARequest.Header("Content-Type"), ARequest.Body, AParts, error))
        return true;
    ReplyFormError(ARes, error);
    return false;
}
} // namespace

const TApi::TRoute TApi::kRoutes[] = {
    {"POST", "/api/image-transfer/send", &TApi::Send, true},
    {"GET", "/api/image-transfer/native/poll", &TApi::Poll, false},
    {"POST", "/api/image-transfer/native/stop", &TApi::Stop, false},
    {"GET", "/api/extraction/items", &TApi::GetItems, false},
    {"PUT", "/api/extraction/items", &TApi::PutItems, true},
    {"POST", "/api/extraction/extract", &TApi::Extract, true},
    {"POST", "/api/image-jobs/upload", &TApi::Upload, true},
};

namespace {
std::string RouteMethod(const TRequest& ARequest) {
    return ARequest.Method == "HEAD" ? std::string("GET") : ARequest.Method;
}
} // namespace

bool TApi::RefuseWithoutToken(const TRequest& ARequest, httplib::Response& ARes) {
    const std::string Method = RouteMethod(ARequest);
    for (const TRoute& Route : kRoutes) {
        if (ARequest.Path == Route.Path && Method == Route.Method) {
            return !Authenticate(ARequest, ARes);
        }
    }
    return false;
}

bool TApi::TakesLargeBody(const TRequest& ARequest) const {
    const std::string Method = RouteMethod(ARequest);
    for (const TRoute& Route : kRoutes) {
        if (ARequest.Path == Route.Path && Method == Route.Method) {
            return Route.LargeBody;
        }
    }
    return false;
}

void TApi::Handle(const TRequest& ARequest, httplib::Response& ARes) {
    const std::string Method = RouteMethod(ARequest);

    if (ARequest.Path == "/api/auth/login") {
        if (Method == "POST") {
            Login(ARequest, ARes);
        } else {
            ARes.set_header("Allow", "POST");
            ReplyDetail(ARes, 405, "Method Not Allowed");
        }
        return;
    }
    std::string Allowed;
    for (const TRoute& Route : kRoutes) {
        if (ARequest.Path != Route.Path) {
            continue;
        }
        if (Method == Route.Method) {
            if (const auto Account = Authenticate(ARequest, ARes)) {
                (this->*Route.Handler)(ARequest, ARes, *Account);
            }
            return;
        }
        Allowed += (Allowed.empty() ? "" : ", ") + std::string(Route.Method);
    }
    if (!Allowed.empty()) {
        ARes.set_header("Allow", Allowed);
        ReplyDetail(ARes, 405, "Method Not Allowed");
    } else {
        ReplyDetail(ARes, 404, "Not Found");
    }
}

std::optional<std::string> TApi::Authenticate(const TRequest& ARequest, httplib::Response& ARes) {
    const std::string Value = ARequest.Header("Authorization");
    const std::string_view Trimmed = TrimBlanks(Value);
    std::optional<std::string> Account;
    if (StartsWithNoCase(Trimmed, "Bearer ")) {
        Account = FAccounts.AccountOf(std::string(TrimBlanks(Trimmed.substr(7))));
        if (!Account) {
            ARes.set_header("WWW-Authenticate", "Bearer");
            ReplyDetail(ARes, 401, "認証トークンが無効です。もう一度ログインしてください");
        }
    } else {
        ARes.set_header("WWW-Authenticate", "Bearer");
        ReplyDetail(ARes, 401, "ログインしていません（認証トークンがありません）");
    }
    return Account;
}

void TApi::Login(const TRequest& ARequest, httplib::Response& ARes) {
    rapidjson::Document Doc;
    if (!ParseObjectBody(ARequest.Body, Doc, ARes))
        return;
    std::vector<TFieldError> Errors;
    const auto Email = RequiredString(Doc, "email", {std::string("body")}, Errors);
    const auto Password = RequiredString(Doc, "password", {std::string("body")}, Errors);
    if (Doc.HasMember("remember_me") && !Doc["remember_me"].IsBool()) {
        Errors.push_back({TLoc{std::string("body"), std::string("remember_me")},
                          "true か false を指定してください", "type_error.bool"});
    }
    if (!Errors.empty()) {
        ReplyValidation(ARes, Errors);
        return;
    }
    if (const int Wait = FSignInThrottle.WaitSeconds(*Email, ARequest.RemoteAddress); Wait > 0) {
        ARes.set_header("Retry-After", std::to_string(Wait));
        ReplyDetail(ARes, 429,
                    "サインインの失敗が続いたため、しばらく受け付けません。" +
                        std::to_string(Wait) + " 秒後にもう一度お試しください");
        return;
    }
    const auto Token = FAccounts.Login(*Email, *Password);
    if (!Token) {
        FSignInThrottle.Failed(*Email, ARequest.RemoteAddress);
        ReplyDetail(ARes, 401, "メールアドレスまたはパスワードが正しくありません");
        return;
    }
    FSignInThrottle.Succeeded(*Email, ARequest.RemoteAddress);
    ReplyJson(ARes, 200, BuildJson([&](TJsonWriter& W) {
                  W.StartObject();
                  W.Key("access_token");
                  WriteString(W, *Token);
                  W.Key("token_type");
                  W.String("bearer");
                  W.EndObject();
              }));
}

void TApi::Send(const TRequest& ARequest, httplib::Response& ARes, const std::string& AAccount) {
    std::vector<TFormPart> Parts;
    if (!ParseFormBody(ARequest, Parts, ARes))
        return;
    TFormPart* File = FindPart(Parts, "file");
    TFormPart* Text = FindPart(Parts, "text");
    if ((File == nullptr) == (Text == nullptr)) {
        ReplyValidation(ARes, {{TLoc{std::string("body"), std::string("file")},
                                File == nullptr ? "file か text のどちらかを送ってください"
                                                : "file と text は同時に送れません",
                                "value_error"}});
        return;
    }
    TTransferItem Item;
    if (File != nullptr) {
        Item.Filename = File->Filename;
        Item.ContentType =
            File->ContentType.empty() ? "application/octet-stream" : File->ContentType;
        Item.Body = File->Data;
    } else {
        const TFormPart* Name = FindPart(Parts, "filename");
        Item.Filename =
            Name != nullptr && !Name->Data.empty() ? std::string(Name->Data) : kTextFilename;
        Item.ContentType = kTextContentType;
        Item.Body = Text->Data;
    }
    // Both go into response headers of the poll.
    if (Item.Filename.size() > kMaxFilenameBytes) {
        ReplyValidation(ARes, {{TLoc{std::string("body"), std::string("filename")},
                                "ファイル名が長すぎます", "value_error.any_str.max_length"}});
        return;
    }
    if (!IsHeaderSafe(Item.ContentType)) {
        ReplyValidation(ARes, {{TLoc{std::string("body"), std::string("file")},
                                "Content-Type が不正です", "value_error"}});
        return;
    }
    switch (FQueues.Push(AAccount, Item)) {
    case TItemQueues::TPushResult::Queued:
        break;
    case TItemQueues::TPushResult::NotStored:
        ReplyDetail(ARes, 507,
                    "アイテムを保存できませんでした（サービスのディスクを確認してください）");
        return;
    case TItemQueues::TPushResult::TooManyItems:
        ReplyDetail(ARes, 429, "受信されていないアイテムが多すぎます");
        return;
    case TItemQueues::TPushResult::TooManyBytes:
        ReplyDetail(ARes, 503,
                    "受信されていないアイテムの合計が上限（" +
                        std::to_string(FQueues.MaxBytesPerAccount() / (1024 * 1024)) +
                        " MiB）に達しています。受信されるまでお待ちください");
        return;
    }
    ReplyJson(ARes, 202, BuildJson([&](TJsonWriter& W) {
                  W.StartObject();
                  W.Key("ok");
                  W.Bool(true);
                  W.Key("filename");
                  WriteString(W, Item.Filename);
                  W.Key("content_type");
                  WriteString(W, Item.ContentType);
                  W.Key("size");
                  W.Uint64(Item.Body.size());
                  W.EndObject();
              }));
}

void TApi::Poll(const TRequest& ARequest, httplib::Response& ARes, const std::string& AAccount) {
    int Wait = 0; // no wait parameter: answer at once
    if (ARequest.HasParam("wait") && !ParseInteger(ARequest.Param("wait"), Wait)) {
        ReplyValidation(ARes, {{TLoc{std::string("query"), std::string("wait")},
                                "整数を指定してください", "type_error.integer"}});
        return;
    }
    Wait = std::clamp(Wait, 0, FMaxWaitSeconds);

    TStoredItem Item;
    switch (FQueues.Take(AAccount, ARequest.Header("Authorization"), std::chrono::seconds(Wait),
                         Item)) {
    case TItemQueues::TTakeResult::Timeout:
        ARes.status = 204;
        return;
    case TItemQueues::TTakeResult::Busy:
        ReplyDetail(ARes, 503, "待機中の受信が多すぎます。しばらくしてから接続してください");
        return;
    case TItemQueues::TTakeResult::ShuttingDown:
        ReplyDetail(ARes, 503, "サービスを停止しています");
        return;
    case TItemQueues::TTakeResult::Item:
        break;
    }
    auto Body = Item.Size == 0 ? std::optional<std::string>(std::string()) : FQueues.Body(Item);
    if (!Body) {
        // A body that cannot be read now (a file removed by hand, a disk error) must not stop
        // the photos sent after it.
        FQueues.PutLast(Item);
        ReplyDetail(ARes, 500, "アイテムを読み出せませんでした");
        return;
    }

    ARes.status = 200;
    if (!Item.Filename.empty()) {
        ARes.set_header("X-Image-Filename", PercentEncode(Item.Filename));
    }
    if (Body->empty()) {
        // Nothing to lose, and the library reports no outcome for an answer without a body.
        FQueues.Delivered(Item);
        ARes.set_header("Content-Type", Item.ContentType);
        return;
    }
    // The item leaves the store only once its body has been written whole; a receiver that
    // went away meanwhile leaves it at the front of the queue.
    auto Shared = std::make_shared<std::string>(std::move(*Body));
    TItemQueues& Queues = FQueues;
    ARes.set_content_provider(
        Shared->size(), Item.ContentType,
        [Shared](size_t AOffset, size_t ALength, httplib::DataSink& ASink) {
            return ASink.write(Shared->data() + AOffset, std::min(ALength, kChunk));
        },
        [Shared, &Queues, Item](bool ASuccess) {
            if (ASuccess) {
                Queues.Delivered(Item);
            } else {
                Queues.PutBack(Item);
            }
        });
}

void TApi::Stop(const TRequest& ARequest, httplib::Response& ARes, const std::string& AAccount) {
    // A poll of this receiver that still waits has lost its connection.
    FQueues.Release(AAccount, ARequest.Header("Authorization"));
    ReplyJson(ARes, 200, R"({"ok":true})");
}

void TApi::GetItems(const TRequest&, httplib::Response& ARes, const std::string& AAccount) {
    const auto Items = FItems.Items(AAccount);
    if (!Items) {
        ReplyDetail(ARes, 500, "抽出項目を読み出せませんでした");
        return;
    }
    ReplyJson(ARes, 200, BuildJson([&](TJsonWriter& W) {
                  W.StartObject();
                  W.Key("items");
                  WriteItems(W, *Items);
                  W.Key("catalog");
                  WriteItems(W, CatalogItems());
                  W.EndObject();
              }));
}

void TApi::PutItems(const TRequest& ARequest, httplib::Response& ARes,
                    const std::string& AAccount) {
    rapidjson::Document Doc;
    if (!ParseJson(ARequest.Body, Doc)) {
        ReplyBadJson(ARes);
        return;
    }
    std::vector<TFieldError> Errors;
    auto Items = ReadItems(Doc, Errors);
    if (!Items) {
        ReplyValidation(ARes, Errors);
        return;
    }
    if (!FItems.SetItems(AAccount, *Items)) {
        ReplyDetail(ARes, 507,
                    "抽出項目を保存できませんでした（サービスのディスクを確認してください）");
        return;
    }
    ReplyJson(ARes, 200, BuildJson([&](TJsonWriter& W) {
                  W.StartObject();
                  W.Key("items");
                  WriteItems(W, *Items);
                  W.EndObject();
              }));
}

void TApi::Extract(const TRequest& ARequest, httplib::Response& ARes, const std::string& AAccount) {
    if (ARequest.Body.size() > kMaxExtractBody) {
        ReplyDetail(ARes, 413, kExtractTooLarge);
        return;
    }
    rapidjson::Document Doc;
    if (!ParseObjectBody(ARequest.Body, Doc, ARes))
        return;
    std::vector<TFieldError> Errors;
    const auto Text = RequiredString(Doc, "text", {std::string("body")}, Errors);
    if (!Text) {
        ReplyValidation(ARes, Errors);
        return;
    }
    if (Text->size() > kMaxExtractText) {
        ReplyDetail(ARes, 413, kExtractTooLarge);
        return;
    }
    const auto Items = FItems.Items(AAccount);
    if (!Items) {
        ReplyDetail(ARes, 500, "抽出項目を読み出せませんでした");
        return;
    }
    const std::optional<TDoubtfulNumbers> Doubts = FRecentReadings.DoubtsOf(AAccount, *Text);
    const TExtraction Extraction =
        ExtractLabValues(QString::fromStdString(*Text), *Items, Doubts ? &*Doubts : nullptr);
    ReplyJson(ARes, 200, BuildJson([&](TJsonWriter& W) {
                  W.StartObject();
                  W.Key("results");
                  W.StartArray();
                  for (const TLabResult& R : Extraction.Results) {
                      W.StartObject();
                      W.Key("name");
                      WriteString(W, R.Name.toStdString());
                      W.Key("value");
                      WriteString(W, R.Value.toStdString());
                      W.Key("unit");
                      WriteString(W, R.Unit.toStdString());
                      W.Key("reference");
                      WriteString(W, R.Reference.toStdString());
                      W.Key("flag");
                      WriteString(W, R.Flag.toStdString());
                      W.EndObject();
                  }
                  W.EndArray();
                  W.Key("exam_date");
                  WriteNullableText(W, Extraction.ExamDate);
                  W.Key("institution");
                  WriteNullableText(W, Extraction.Institution);
                  W.EndObject();
              }));
}

void TApi::Upload(const TRequest& ARequest, httplib::Response& ARes, const std::string& AAccount) {
    std::vector<TFormPart> Parts;
    if (!ParseFormBody(ARequest, Parts, ARes))
        return;
    const TFormPart* File = FindPart(Parts, "file");
    if (File == nullptr) {
        ReplyValidation(ARes, {{TLoc{std::string("body"), std::string("file")}, "必須項目です",
                                "value_error.missing"}});
        return;
    }
    const TFormPart* Mode = FindPart(Parts, "mode");
    if (Mode != nullptr && !Mode->Data.empty() && Mode->Data != "prescription") {
        ReplyValidation(ARes, {{TLoc{std::string("body"), std::string("mode")},
                                "mode は \"prescription\" だけを指定できます", "value_error"}});
        return;
    }
    bool Notify = false;
    const TFormPart* NotifyPart = FindPart(Parts, "notify_pc");
    if (NotifyPart != nullptr && !ParseFormBool(std::string(NotifyPart->Data), Notify)) {
        ReplyValidation(ARes, {{TLoc{std::string("body"), std::string("notify_pc")},
                                "true か false を指定してください", "type_error.bool"}});
        return;
    }

    std::string Text;
    TDoubtfulNumbers Doubts;
    switch (FRecognizer.Recognize(File->Data, Text, &Doubts)) {
    case TRecognizer::TStatus::Ok:
        break;
    case TRecognizer::TStatus::Empty:
        ReplyDetail(ARes, 422, "画像が空です");
        return;
    case TRecognizer::TStatus::Undecodable:
        ReplyDetail(ARes, 422, "画像を読み取れません（JPEG などの画像を送ってください）");
        return;
    case TRecognizer::TStatus::TooLarge:
        ReplyDetail(ARes, 413, "画像が大きすぎます");
        return;
    case TRecognizer::TStatus::TimedOut:
        ReplyDetail(ARes, 422,
                    "画像を時間内に読み取れませんでした（文字のない細かな模様は読めません）");
        return;
    case TRecognizer::TStatus::Unavailable:
        ReplyDetail(ARes, 503,
                    "文字認識を使えません（tesseract の jpn と eng の言語データがありません）");
        return;
    }
    if (Mode == nullptr || Mode->Data.empty()) { // a lab report, not a prescription
        Text = CorrectUnits(CorrectItemNames(QString::fromStdString(Text),
                                             FItems.Items(AAccount).value_or(DefaultItems())))
                   .toStdString();
        FRecentReadings.Remember(AAccount, Text, std::move(Doubts));
    }
    if (Notify) {
        // The answer carries the text as well, so a text the store refuses is not lost.
        FQueues.Push(AAccount, {kTextFilename, kTextContentType, Text});
    }
    ReplyJson(ARes, 200, BuildJson([&](TJsonWriter& W) {
                  W.StartObject();
                  W.Key("extracted_text");
                  WriteString(W, Text);
                  W.EndObject();
              }));
}

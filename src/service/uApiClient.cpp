#include "service/uApiClient.h"

#include "common/uErrors.h"
#include "common/uTextRules.h"
#include "service/uHttp.h"
#include "service/uJson.h"

#include <QStringDecoder>
#include <algorithm>
#include <memory>

namespace {
const QString NotSignedIn = QStringLiteral("未ログインです");

bool IsSuccess(int AStatus) {
    return AStatus >= 200 && AStatus <= 299;
}

// An element that must be an object but is not.
[[noreturn]] void InvalidCast() {
    throw TAppError(QStringLiteral("Invalid class typecast"));
}

QList<TExtractItem> ParseItems(const TJsonValue& AArray) {
    QList<TExtractItem> items;
    for (const TJsonValue& e : AArray.GetArray()) {
        if (!e.IsObject())
            InvalidCast();
        TExtractItem item;
        item.Name = MemberText(&e, QStringLiteral("name"));
        const TJsonValue* aliases = Member(&e, "aliases");
        if (aliases != nullptr && aliases->IsArray())
            item.Aliases = JoinAliases(*aliases);
        items.append(item);
    }
    return items;
}

int HexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}
} // namespace

bool IsUsableToken(const QString& AToken) {
    if (AToken.isEmpty() || AToken.size() > TApiClient::MaxTokenLength)
        return false;
    return std::all_of(AToken.begin(), AToken.end(),
                       [](QChar c) { return c.unicode() >= 0x21 && c.unicode() <= 0x7E; });
}

std::unique_ptr<THttpClient> NewHttpClient(int AResponseTimeoutMs) {
    return std::make_unique<THttpClient>(AResponseTimeoutMs);
}

TApiClient::TApiClient(const QString& ABaseUrl) : FBaseUrl(ABaseUrl) {
    while (FBaseUrl.endsWith(u'/'))
        FBaseUrl.chop(1);
}

QByteArray TApiClient::Bearer() const {
    return "Bearer " + FToken.toUtf8();
}

std::unique_ptr<THttpClient> TApiClient::NewCall(int AResponseTimeoutMs, qint64 ADeadlineMs) const {
    auto http = NewHttpClient(AResponseTimeoutMs);
    http->SetDeadline(ADeadlineMs);
    http->SetCancelFlag(FCancel);
    return http;
}

bool TApiClient::Login(const QString& AEmail, const QString& APassword, QString& AError) {
    FLastStatus = 0;
    AError.clear();
    FToken.clear();
    auto http = NewCall(LoginTimeoutMs, SmallCallDeadlineMs);
    const QByteArray body = TJsonWriter()
                                .StartObject()
                                .Key("email")
                                .String(AEmail)
                                .Key("password")
                                .String(APassword)
                                .Key("remember_me")
                                .Bool(true)
                                .EndObject()
                                .Bytes();
    const THttpResponse r = http->Send("POST", FBaseUrl + QStringLiteral("/api/auth/login"),
                                       {{"Content-Type", "application/json"}}, body, true);
    FLastStatus = r.Status;
    const TJsonDocument json = TJsonDocument::Parse(r.Body);
    if (r.Status != 200) {
        AError = ErrorFromResponse(json.Root(), r.Status);
        return false;
    }
    QString token;
    if (!TryGetText(json.Root(), QStringLiteral("access_token"), token) || token.isEmpty()) {
        AError = QStringLiteral("サーバー応答にトークンが含まれていません");
        return false;
    }
    // The token goes into a header line of every call: a line break would add headers of
    // the service's choosing, a NUL would cut it, and a huge one would never be sent.
    if (!IsUsableToken(token)) {
        AError = QStringLiteral("サーバー応答のトークンが正しくありません");
        return false;
    }
    FToken = token;
    return true;
}

TPollResult TApiClient::Poll(int AWaitSeconds, QByteArray& AImage, QString& AFilename,
                             QString& AContentType) {
    AFilename.clear();
    AContentType.clear();
    // The service may hold the answer for the whole wait; the deadline adds the time-out.
    const int responseTimeoutMs = (AWaitSeconds + 20) * 1000;
    auto http = NewCall(responseTimeoutMs, AWaitSeconds * 1000LL + responseTimeoutMs);
    if (FPollCancel != nullptr)
        http->SetCancelBeforeAnswerFlag(FPollCancel);
    THttpResponse r = http->Send(
        "GET",
        QStringLiteral("%1/api/image-transfer/native/poll?wait=%2").arg(FBaseUrl).arg(AWaitSeconds),
        {{"Authorization", Bearer()}});
    AImage = std::move(r.Body);
    switch (r.Status) {
    case 200: {
        // The service has let go of the item: a name that does not decode must not lose
        // it, so it is saved under the fall-back name instead.
        try {
            AFilename = DecodeImageFilename(QString::fromUtf8(r.Header("X-Image-Filename")));
        } catch (const TAppError&) {
            AFilename.clear();
        }
        AContentType = QString::fromUtf8(r.Header("Content-Type"));
        // Text or image by the media type alone: a parameter may say anything.
        const QString mediaType =
            TextRules::AsciiLower(TextRules::Trim(AContentType.section(u';', 0, 0)));
        if (mediaType.startsWith(QLatin1String("text/"))) {
            if (AFilename.isEmpty())
                AFilename = QStringLiteral("result.txt");
            return TPollResult::prText;
        }
        if (AFilename.isEmpty())
            AFilename = QStringLiteral("image.jpg");
        return TPollResult::prImage;
    }
    case 204:
        return TPollResult::prEmpty;
    case 401:
    case 403:
        return TPollResult::prUnauthorized;
    default:
        throw TAppError(QStringLiteral("受信エラー: HTTP %1").arg(r.Status));
    }
}

void TApiClient::StopReceiver(const QString& ABaseUrl, const QString& AToken) {
    TApiClient other(ABaseUrl);
    other.FToken = AToken;
    other.StopReceiver();
}

void TApiClient::StopReceiver() {
    if (FToken.isEmpty())
        return;
    auto http = NewCall(StopTimeoutMs, StopTimeoutMs);
    http->Send("POST", FBaseUrl + QStringLiteral("/api/image-transfer/native/stop"),
               {{"Authorization", Bearer()}}, QByteArray(), true);
}

bool TApiClient::OcrImage(const QByteArray& AJpeg, const QString& APatientCode, bool APrescription,
                          QString& AText, QString& AError) {
    FLastStatus = 0;
    AText.clear();
    AError.clear();
    if (FToken.isEmpty()) {
        AError = NotSignedIn;
        return false;
    }
    auto http = NewCall(OcrTimeoutMs, OcrTimeoutMs + SmallCallDeadlineMs);
    QList<TFormPart> parts;
    parts.append({"file", AJpeg, "region.jpg", "image/jpeg"});
    if (!APatientCode.isEmpty())
        parts.append({"patient_code", APatientCode.toUtf8(), {}, {}});
    parts.append({"notify_pc", "false", {}, {}});
    if (APrescription)
        parts.append({"mode", "prescription", {}, {}});
    const THttpResponse r = http->SendForm(FBaseUrl + QStringLiteral("/api/image-jobs/upload"),
                                           {{"Authorization", Bearer()}}, parts);
    FLastStatus = r.Status;
    const TJsonDocument json = TJsonDocument::Parse(r.Body);
    if (!IsSuccess(r.Status)) {
        AError = ErrorFromResponse(json.Root(), r.Status);
        return false;
    }
    if (TryGetText(json.Root(), QStringLiteral("extracted_text"), AText))
        return true;
    AError = QStringLiteral("サーバー応答に extracted_text が含まれていません");
    return false;
}

bool TApiClient::ExtractValues(const QString& AText, QList<TLabValue>& AResults, QString& AExamDate,
                               QString& AInstitution, QString& AError) {
    FLastStatus = 0;
    AError.clear();
    AExamDate.clear();
    AInstitution.clear();
    AResults.clear();
    if (FToken.isEmpty()) {
        AError = NotSignedIn;
        return false;
    }
    auto http = NewCall(ExtractTimeoutMs, ExtractTimeoutMs + SmallCallDeadlineMs);
    const QByteArray body =
        TJsonWriter().StartObject().Key("text").String(AText).EndObject().Bytes();
    const THttpResponse r =
        http->Send("POST", FBaseUrl + QStringLiteral("/api/extraction/extract"),
                   {{"Content-Type", "application/json"}, {"Authorization", Bearer()}}, body, true);
    FLastStatus = r.Status;
    const TJsonDocument json = TJsonDocument::Parse(r.Body);
    if (!IsSuccess(r.Status)) {
        AError = ErrorFromResponse(json.Root(), r.Status);
        return false;
    }
    const TJsonValue* results = nullptr;
    if (json.Root() != nullptr && json.Root()->IsObject()) {
        results = Member(json.Root(), "results");
        AExamDate = MemberText(json.Root(), QStringLiteral("exam_date"));
        AInstitution = MemberText(json.Root(), QStringLiteral("institution"));
    }
    if (results == nullptr || !results->IsArray()) {
        AError = QStringLiteral("サーバー応答の形式が不正です");
        return false;
    }
    for (const TJsonValue& e : results->GetArray()) {
        if (!e.IsObject()) {
            AResults.clear();
            InvalidCast();
        }
        AResults.append(
            {MemberText(&e, QStringLiteral("name")), MemberText(&e, QStringLiteral("value")),
             MemberText(&e, QStringLiteral("unit")), MemberText(&e, QStringLiteral("reference")),
             MemberText(&e, QStringLiteral("flag"))});
    }
    return true;
}

bool TApiClient::GetItems(QList<TExtractItem>& AItems, QList<TExtractItem>& ACatalog,
                          QString& AError) {
    FLastStatus = 0;
    AError.clear();
    AItems.clear();
    ACatalog.clear();
    if (FToken.isEmpty()) {
        AError = NotSignedIn;
        return false;
    }
    auto http = NewCall(ItemsTimeoutMs, SmallCallDeadlineMs);
    const THttpResponse r = http->Send("GET", FBaseUrl + QStringLiteral("/api/extraction/items"),
                                       {{"Authorization", Bearer()}});
    FLastStatus = r.Status;
    const TJsonDocument json = TJsonDocument::Parse(r.Body);
    if (IsSuccess(r.Status) && json.Root() != nullptr && json.Root()->IsObject()) {
        const TJsonValue* items = Member(json.Root(), "items");
        const TJsonValue* catalog = Member(json.Root(), "catalog");
        if (items != nullptr && items->IsArray())
            AItems = ParseItems(*items);
        if (catalog != nullptr && catalog->IsArray())
            ACatalog = ParseItems(*catalog);
        return true;
    }
    AError = ErrorFromResponse(json.Root(), r.Status);
    return false;
}

bool TApiClient::SaveItems(const QList<TExtractItem>& AItems, QString& AError) {
    FLastStatus = 0;
    AError.clear();
    if (FToken.isEmpty()) {
        AError = NotSignedIn;
        return false;
    }
    auto http = NewCall(ItemsTimeoutMs, SmallCallDeadlineMs);
    TJsonWriter w;
    w.StartObject().Key("items").StartArray();
    for (const TExtractItem& item : AItems) {
        w.StartObject().Key("name").String(item.Name).Key("aliases").StartArray();
        for (const QString& alias : SplitAliases(item.Aliases))
            w.String(alias);
        w.EndArray().EndObject();
    }
    w.EndArray().EndObject();
    const THttpResponse r = http->Send(
        "PUT", FBaseUrl + QStringLiteral("/api/extraction/items"),
        {{"Content-Type", "application/json"}, {"Authorization", Bearer()}}, w.Bytes(), true);
    FLastStatus = r.Status;
    const TJsonDocument json = TJsonDocument::Parse(r.Body);
    if (IsSuccess(r.Status))
        return true;
    AError = ErrorFromResponse(json.Root(), r.Status);
    return false;
}

QStringList SplitAliases(const QString& AAliases) {
    QStringList result;
    for (const QString& piece : AAliases.split(u',')) {
        const QString trimmed = TextRules::Trim(piece);
        if (!trimmed.isEmpty())
            result.append(trimmed);
    }
    return result;
}

QString DecodeImageFilename(const QString& AHeaderValue) {
    QByteArray bytes;
    bytes.reserve(AHeaderValue.size());
    const qsizetype n = AHeaderValue.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = AHeaderValue.at(i);
        if (c == u'%') {
            if (i + 1 < n && AHeaderValue.at(i + 1) == u'%') {
                bytes.append('%');
                ++i;
                continue;
            }
            const int hi = i + 2 < n ? HexDigit(AHeaderValue.at(i + 1)) : -1;
            const int lo = i + 2 < n ? HexDigit(AHeaderValue.at(i + 2)) : -1;
            if (hi < 0 || lo < 0)
                throw TAppError(
                    QStringLiteral("ファイル名のデコードに失敗しました: 不正なエスケープ \"%1\"")
                        .arg(AHeaderValue.mid(i, 3)));
            bytes.append(char(hi * 16 + lo));
            i += 2;
        } else if (c == u'+') {
            bytes.append(' ');
        } else if (c.unicode() < 128) {
            bytes.append(char(c.unicode()));
        } else {
            // Surrogate pairs are kept together so their UTF-8 form is right.
            qsizetype len = (c.isHighSurrogate() && i + 1 < n) ? 2 : 1;
            bytes.append(AHeaderValue.mid(i, len).toUtf8());
            i += len - 1;
        }
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString name = utf8.decode(bytes);
    if (utf8.hasError())
        throw TAppError(QStringLiteral("ファイル名のデコードに失敗しました: UTF-8 ではありません"));
    return name;
}

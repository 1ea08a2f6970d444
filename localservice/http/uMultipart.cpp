#include "http/uMultipart.h"

#include <utility>

#include "http/uHttp.h"

namespace {

constexpr size_t kMaxParts = 1000;

using TParams = std::vector<std::pair<std::string, std::string>>;

bool IsBlank(char C) {
    return C == ' ' || C == '\t';
}

// Splits "type; a=b; c="d;e"" into its parameters; quoted values may hold ";" and "\"-escapes.
// False for an empty parameter (";;", a trailing ";"), one without "=" or a name, an
// unterminated quoted value, or text after a quoted value.
bool ParseHeaderParams(std::string_view AValue, TParams& AParams) {
    AParams.clear();
    size_t Pos = AValue.find(';');
    while (Pos != std::string_view::npos) {
        ++Pos; // past ';'
        const size_t Eq = AValue.find_first_of("=;", Pos);
        if (Eq == std::string_view::npos || AValue[Eq] == ';') {
            return false;
        }
        std::string Name(TrimBlanks(AValue.substr(Pos, Eq - Pos)));
        if (Name.empty()) {
            return false;
        }
        Pos = Eq + 1;
        while (Pos < AValue.size() && IsBlank(AValue[Pos])) {
            ++Pos;
        }
        std::string Value;
        if (Pos < AValue.size() && AValue[Pos] == '"') {
            ++Pos;
            bool Closed = false;
            while (Pos < AValue.size()) {
                char C = AValue[Pos++];
                if (C == '"') {
                    Closed = true;
                    break;
                }
                if (C == '\\') {
                    if (Pos == AValue.size()) {
                        break;
                    }
                    C = AValue[Pos++];
                }
                Value += C;
            }
            if (!Closed) {
                return false;
            }
            while (Pos < AValue.size() && IsBlank(AValue[Pos])) {
                ++Pos;
            }
            if (Pos == AValue.size()) {
                Pos = std::string_view::npos;
            } else if (AValue[Pos] != ';') {
                return false;
            }
        } else {
            const size_t End = AValue.find(';', Pos);
            Value = std::string(TrimBlanks(AValue.substr(
                Pos, End == std::string_view::npos ? std::string_view::npos : End - Pos)));
            Pos = End;
        }
        AParams.emplace_back(std::move(Name), std::move(Value));
    }
    return true;
}

const std::string* FindParam(const TParams& AParams, std::string_view AName) {
    for (const auto& [Name, Value] : AParams) {
        if (EqualsNoCase(Name, AName)) {
            return &Value;
        }
    }
    return nullptr;
}

int HexValue(char C) {
    if (C >= '0' && C <= '9') {
        return C - '0';
    }
    if (C >= 'a' && C <= 'f') {
        return C - 'a' + 10;
    }
    if (C >= 'A' && C <= 'F') {
        return C - 'A' + 10;
    }
    return -1;
}

// RFC 5987 extended value: charset'language'percent-encoded-bytes. Only UTF-8 is taken, as
// the name is handed on as UTF-8 bytes; false for another charset or a broken escape.
bool DecodeExtValue(std::string_view AValue, std::string& AOut) {
    const size_t First = AValue.find('\'');
    const size_t Second = First == std::string_view::npos ? First : AValue.find('\'', First + 1);
    if (Second == std::string_view::npos || !EqualsNoCase(AValue.substr(0, First), "UTF-8")) {
        return false;
    }
    AOut.clear();
    for (size_t i = Second + 1; i < AValue.size(); ++i) {
        if (AValue[i] != '%') {
            AOut += AValue[i];
            continue;
        }
        if (i + 2 >= AValue.size() || HexValue(AValue[i + 1]) < 0 || HexValue(AValue[i + 2]) < 0) {
            return false;
        }
        AOut += static_cast<char>(HexValue(AValue[i + 1]) * 16 + HexValue(AValue[i + 2]));
        i += 2;
    }
    return true;
}

bool ParsePartHeaders(std::string_view ABlock, TFormPart& APart, std::string& AError) {
    bool HasDisposition = false;
    size_t Pos = 0;
    while (Pos < ABlock.size()) {
        size_t End = ABlock.find("\r\n", Pos);
        if (End == std::string_view::npos) {
            End = ABlock.size();
        }
        const std::string_view Line = ABlock.substr(Pos, End - Pos);
        Pos = End + 2;
        const size_t Colon = Line.find(':');
        if (Colon == std::string_view::npos) {
            AError = "パートのヘッダーが不正です";
            return false;
        }
        const std::string_view Name = TrimBlanks(Line.substr(0, Colon));
        const std::string_view Value = TrimBlanks(Line.substr(Colon + 1));
        if (EqualsNoCase(Name, "Content-Disposition")) {
            if (!StartsWithNoCase(Value, "form-data")) {
                AError = "Content-Disposition が form-data ではありません";
                return false;
            }
            TParams Params;
            if (!ParseHeaderParams(Value, Params)) {
                AError = "Content-Disposition のパラメーターが不正です";
                return false;
            }
            const std::string* PartName = FindParam(Params, "name");
            if (PartName == nullptr) {
                AError = "パートに name がありません";
                return false;
            }
            APart.Name = *PartName;
            if (const std::string* Ext = FindParam(Params, "filename*")) {
                if (!DecodeExtValue(*Ext, APart.Filename)) {
                    AError = "filename* が不正です（UTF-8'' に続けて % で符号化した名前を送って"
                             "ください）";
                    return false;
                }
                APart.HasFilename = true;
            } else if (const std::string* File = FindParam(Params, "filename")) {
                APart.Filename = *File;
                APart.HasFilename = true;
            }
            HasDisposition = true;
        } else if (EqualsNoCase(Name, "Content-Type")) {
            APart.ContentType = std::string(Value);
        }
    }
    if (!HasDisposition) {
        AError = "パートに Content-Disposition がありません";
        return false;
    }
    return true;
}

} // namespace

bool IsMultipartForm(std::string_view AContentType) {
    return StartsWithNoCase(TrimBlanks(AContentType), "multipart/form-data");
}

bool ParseMultipart(std::string_view AContentType, std::string_view ABody,
                    std::vector<TFormPart>& AParts, std::string& AError) {
    AParts.clear();
    if (!IsMultipartForm(AContentType)) {
        AError = "multipart/form-data で送信してください";
        return false;
    }
    TParams Params;
    if (!ParseHeaderParams(AContentType, Params)) {
        AError = "Content-Type のパラメーターが不正です";
        return false;
    }
    const std::string* Boundary = FindParam(Params, "boundary");
    if (Boundary == nullptr || Boundary->empty() || Boundary->size() > 200) {
        AError = "multipart の boundary がありません";
        return false;
    }
    const std::string Delimiter = "--" + *Boundary;
    const std::string NextDelimiter = "\r\n" + Delimiter;

    size_t Pos = 0;
    if (ABody.substr(0, Delimiter.size()) == Delimiter) {
        Pos = Delimiter.size();
    } else {
        const size_t Found = ABody.find(NextDelimiter);
        if (Found == std::string_view::npos) {
            AError = "multipart の区切りが見つかりません";
            return false;
        }
        Pos = Found + NextDelimiter.size();
    }

    for (;;) {
        if (ABody.substr(Pos, 2) == "--") {
            return true; // closing delimiter; the epilogue is ignored
        }
        while (Pos < ABody.size() && (ABody[Pos] == ' ' || ABody[Pos] == '\t')) {
            ++Pos;
        }
        if (ABody.substr(Pos, 2) != "\r\n") {
            AError = "multipart の区切りの後に改行がありません";
            return false;
        }
        Pos += 2;
        if (AParts.size() >= kMaxParts) {
            AError = "パートが多すぎます";
            return false;
        }
        TFormPart Part;
        if (ABody.substr(Pos, 2) == "\r\n") {
            AError = "パートに Content-Disposition がありません";
            return false;
        }
        const size_t HeaderEnd = ABody.find("\r\n\r\n", Pos);
        if (HeaderEnd == std::string_view::npos) {
            AError = "パートのヘッダーが終わっていません";
            return false;
        }
        if (!ParsePartHeaders(ABody.substr(Pos, HeaderEnd - Pos), Part, AError)) {
            return false;
        }
        const size_t ContentStart = HeaderEnd + 4;
        const size_t ContentEnd = ABody.find(NextDelimiter, ContentStart);
        if (ContentEnd == std::string_view::npos) {
            AError = "multipart の終端がありません";
            return false;
        }
        Part.Data = ABody.substr(ContentStart, ContentEnd - ContentStart);
        AParts.push_back(std::move(Part));
        Pos = ContentEnd + NextDelimiter.size();
    }
}

const TFormPart* FindPart(const std::vector<TFormPart>& AParts, std::string_view AName) {
    for (const auto& Part : AParts) {
        if (Part.Name == AName) {
            return &Part;
        }
    }
    return nullptr;
}

TFormPart* FindPart(std::vector<TFormPart>& AParts, std::string_view AName) {
    return const_cast<TFormPart*>(FindPart(std::as_const(AParts), AName));
}

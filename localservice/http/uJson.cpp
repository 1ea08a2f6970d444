#include "http/uJson.h"

#include <rapidjson/memorystream.h>

bool ParseJson(std::string_view AText, rapidjson::Document& ADoc) {
    constexpr unsigned kFlags =
        rapidjson::kParseIterativeFlag | rapidjson::kParseValidateEncodingFlag;
    rapidjson::MemoryStream Stream(AText.data(), AText.size());
    ADoc.ParseStream<kFlags, rapidjson::UTF8<>>(Stream);
    return !ADoc.HasParseError();
}

namespace {

// Length of the valid UTF-8 sequence at APos, or 0 when the bytes there are not one.
size_t Utf8SequenceLength(std::string_view AText, size_t APos) {
    const auto Byte = [&](size_t i) { return static_cast<unsigned char>(AText[i]); };
    const unsigned char B0 = Byte(APos);
    if (B0 < 0x80) {
        return 1;
    }
    size_t Len = 0;
    unsigned Min = 0;
    unsigned Code = 0;
    if ((B0 & 0xE0) == 0xC0) {
        Len = 2, Min = 0x80, Code = B0 & 0x1F;
    } else if ((B0 & 0xF0) == 0xE0) {
        Len = 3, Min = 0x800, Code = B0 & 0x0F;
    } else if ((B0 & 0xF8) == 0xF0) {
        Len = 4, Min = 0x10000, Code = B0 & 0x07;
    } else {
        return 0;
    }
    if (APos + Len > AText.size()) {
        return 0;
    }
    for (size_t i = 1; i < Len; ++i) {
        const unsigned char B = Byte(APos + i);
        if ((B & 0xC0) != 0x80) {
            return 0;
        }
        Code = (Code << 6) | (B & 0x3F);
    }
    if (Code < Min || Code > 0x10FFFF || (Code >= 0xD800 && Code <= 0xDFFF)) {
        return 0;
    }
    return Len;
}

} // namespace

std::string ReplaceInvalidUtf8(std::string_view AText) {
    std::string Out;
    Out.reserve(AText.size());
    for (size_t i = 0; i < AText.size();) {
        const size_t Len = Utf8SequenceLength(AText, i);
        if (Len == 0) {
            Out += "\xEF\xBF\xBD";
            ++i;
        } else {
            Out.append(AText.substr(i, Len));
            i += Len;
        }
    }
    return Out;
}

void WriteString(TJsonWriter& AWriter, std::string_view AText) {
    const std::string Clean = ReplaceInvalidUtf8(AText);
    AWriter.String(Clean.data(), static_cast<rapidjson::SizeType>(Clean.size()));
}

std::string BuildJson(const std::function<void(TJsonWriter&)>& ABuild) {
    rapidjson::StringBuffer Buffer;
    TJsonWriter Writer(Buffer);
    ABuild(Writer);
    return std::string(Buffer.GetString(), Buffer.GetSize());
}

std::string DetailJson(std::string_view AMessage) {
    return BuildJson([&](TJsonWriter& W) {
        W.StartObject();
        W.Key("detail");
        WriteString(W, AMessage);
        W.EndObject();
    });
}

std::string ValidationJson(const std::vector<TFieldError>& AErrors) {
    return BuildJson([&](TJsonWriter& W) {
        W.StartObject();
        W.Key("detail");
        W.StartArray();
        for (const auto& Error : AErrors) {
            W.StartObject();
            W.Key("loc");
            W.StartArray();
            for (const auto& Part : Error.Loc) {
                if (const auto* Name = std::get_if<std::string>(&Part)) {
                    WriteString(W, *Name);
                } else {
                    W.Int(std::get<int>(Part));
                }
            }
            W.EndArray();
            W.Key("msg");
            WriteString(W, Error.Msg);
            W.Key("type");
            WriteString(W, Error.Type);
            W.EndObject();
        }
        W.EndArray();
        W.EndObject();
    });
}

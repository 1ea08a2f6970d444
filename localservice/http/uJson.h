#pragma once
// JSON reading and writing shared by every handler.
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <functional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

using TJsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

// Parses iteratively, so deep nesting cannot exhaust the stack, and rejects invalid UTF-8.
bool ParseJson(std::string_view AText, rapidjson::Document& ADoc);

// Writes a string; invalid UTF-8 sequences become U+FFFD so the output stays valid JSON.
void WriteString(TJsonWriter& AWriter, std::string_view AText);

std::string BuildJson(const std::function<void(TJsonWriter&)>& ABuild);

// One entry of a FastAPI-like validation error list.
struct TFieldError {
    std::vector<std::variant<std::string, int>> Loc;
    std::string Msg;
    std::string Type;
};

std::string DetailJson(std::string_view AMessage);
std::string ValidationJson(const std::vector<TFieldError>& AErrors);

std::string ReplaceInvalidUtf8(std::string_view AText);

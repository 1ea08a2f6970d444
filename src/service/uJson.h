#pragma once
// JSON as the service speaks it. Numbers are read as their literal text ("5.20"
// stays "5.20"); request bodies are written compactly in pure ASCII, with \u escapes
// in upper case and "/" left alone.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

using TJsonValue = rapidjson::Value;

// A parsed body: empty when the body was empty or not valid JSON.
class TJsonDocument {
public:
    static TJsonDocument Parse(const QByteArray& ABody);
    const TJsonValue* Root() const { return FValid ? &FDoc : nullptr; }

private:
    rapidjson::Document FDoc;
    bool FValid = false;
};

QString JsonString(const TJsonValue& AValue);

// A member as text: string, number literal, true/false; null gives empty text and true.
// Objects, arrays and missing members give false.
bool TryGetText(const TJsonValue* AValue, const QString& AName, QString& AText);
// The error text of a failed call: a non-empty "detail" text, else "HTTP <status>".
QString ErrorFromResponse(const TJsonValue* AValue, int AStatus);
// Like TryGetText, but with empty text for everything that is not a scalar.
QString MemberText(const TJsonValue* AObject, const QString& AName);
// Elements joined with ", ": null as "null", objects and arrays as nothing.
QString JoinAliases(const TJsonValue& AArray);
const TJsonValue* Member(const TJsonValue* AObject, const char* AName);

// Compact ASCII writer for request bodies.
class TJsonWriter {
public:
    TJsonWriter() : FWriter(FBuffer) {}
    TJsonWriter& StartObject() {
        FWriter.StartObject();
        return *this;
    }
    TJsonWriter& EndObject() {
        FWriter.EndObject();
        return *this;
    }
    TJsonWriter& StartArray() {
        FWriter.StartArray();
        return *this;
    }
    TJsonWriter& EndArray() {
        FWriter.EndArray();
        return *this;
    }
    TJsonWriter& Key(const char* AName) {
        FWriter.Key(AName);
        return *this;
    }
    TJsonWriter& String(const QString& AText);
    TJsonWriter& Bool(bool AValue) {
        FWriter.Bool(AValue);
        return *this;
    }
    QByteArray Bytes() const {
        return QByteArray(FBuffer.GetString(), qsizetype(FBuffer.GetSize()));
    }

private:
    rapidjson::StringBuffer FBuffer;
    rapidjson::Writer<rapidjson::StringBuffer, rapidjson::UTF8<>, rapidjson::ASCII<>> FWriter;
};

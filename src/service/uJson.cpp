#include "service/uJson.h"

TJsonDocument TJsonDocument::Parse(const QByteArray& ABody) {
    TJsonDocument d;
    if (ABody.isEmpty())
        return d;
    // Decoded as UTF-8 first, whatever the response declares: broken sequences become
    // U+FFFD before the parser sees them.
    const QByteArray utf8 = QString::fromUtf8(ABody).toUtf8();
    // Iterative: a deeply nested answer must not exhaust the thread's stack.
    d.FDoc.Parse<rapidjson::kParseNumbersAsStringsFlag | rapidjson::kParseIterativeFlag>(
        utf8.constData(), size_t(utf8.size()));
    d.FValid = !d.FDoc.HasParseError();
    return d;
}

QString JsonString(const TJsonValue& AValue) {
    return QString::fromUtf8(AValue.GetString(), qsizetype(AValue.GetStringLength()));
}

const TJsonValue* Member(const TJsonValue* AObject, const char* AName) {
    if (AObject == nullptr || !AObject->IsObject())
        return nullptr;
    const auto it = AObject->FindMember(AName);
    return it == AObject->MemberEnd() ? nullptr : &it->value;
}

namespace {
// Scalars as text. Numbers arrive as strings already (their literal text).
bool ScalarText(const TJsonValue& AValue, QString& AText) {
    if (AValue.IsString()) {
        AText = JsonString(AValue);
        return true;
    }
    if (AValue.IsBool()) {
        AText = AValue.GetBool() ? QStringLiteral("true") : QStringLiteral("false");
        return true;
    }
    if (AValue.IsNull()) {
        AText.clear();
        return true;
    }
    AText.clear();
    return false;
}
} // namespace

bool TryGetText(const TJsonValue* AValue, const QString& AName, QString& AText) {
    AText.clear();
    const TJsonValue* m = Member(AValue, AName.toUtf8().constData());
    return m != nullptr && ScalarText(*m, AText);
}

QString ErrorFromResponse(const TJsonValue* AValue, int AStatus) {
    QString detail;
    if (AValue != nullptr && AValue->IsObject() &&
        TryGetText(AValue, QStringLiteral("detail"), detail) && !detail.isEmpty())
        return detail;
    return QStringLiteral("HTTP %1").arg(AStatus);
}

QString MemberText(const TJsonValue* AObject, const QString& AName) {
    QString text;
    TryGetText(AObject, AName, text);
    return text;
}

QString JoinAliases(const TJsonValue& AArray) {
    QString joined;
    for (const TJsonValue& e : AArray.GetArray()) {
        if (!joined.isEmpty())
            joined += QStringLiteral(", ");
        if (e.IsNull()) {
            joined += QStringLiteral("null");
            continue;
        }
        QString text;
        ScalarText(e, text);
        joined += text;
    }
    return joined;
}

TJsonWriter& TJsonWriter::String(const QString& AText) {
    const QByteArray utf8 = AText.toUtf8();
    FWriter.String(utf8.constData(), rapidjson::SizeType(utf8.size()));
    return *this;
}

// libFuzzer target for the service's JSON answers: any bytes, as the body of each call's
// answer, read with the same readers the client uses for it.
#include "service/uApiClient.h"
#include "service/uJson.h"

#include <cstddef>
#include <cstdint>

namespace {

void ReadItems(const TJsonValue* AArray) {
    if (AArray == nullptr || !AArray->IsArray())
        return;
    for (const TJsonValue& e : AArray->GetArray()) {
        if (!e.IsObject())
            return; // the client refuses the whole answer here
        MemberText(&e, QStringLiteral("name"));
        const TJsonValue* aliases = Member(&e, "aliases");
        if (aliases != nullptr && aliases->IsArray()) {
            // What the item manager shows is what it sends back.
            for (const QString& alias : SplitAliases(JoinAliases(*aliases)))
                if (alias.isEmpty())
                    __builtin_trap();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    const QByteArray body(reinterpret_cast<const char*>(AData), qsizetype(ASize));
    const TJsonDocument json = TJsonDocument::Parse(body);
    const TJsonValue* root = json.Root();

    // A refusal always says something.
    if (ErrorFromResponse(root, 500).isEmpty())
        __builtin_trap();

    // Sign-in.
    QString token;
    if (TryGetText(root, QStringLiteral("access_token"), token))
        IsUsableToken(token);
    // Recognition.
    QString text;
    TryGetText(root, QStringLiteral("extracted_text"), text);
    // Extraction.
    if (root != nullptr && root->IsObject()) {
        MemberText(root, QStringLiteral("exam_date"));
        MemberText(root, QStringLiteral("institution"));
        const TJsonValue* results = Member(root, "results");
        if (results != nullptr && results->IsArray()) {
            for (const TJsonValue& e : results->GetArray()) {
                if (!e.IsObject())
                    break;
                for (const char* name : {"name", "value", "unit", "reference", "flag"})
                    MemberText(&e, QString::fromLatin1(name));
            }
        }
        // The item lists.
        ReadItems(Member(root, "items"));
        ReadItems(Member(root, "catalog"));
    }
    return 0;
}

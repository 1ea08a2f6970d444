// libFuzzer target for a received text's media type and charset. The input's first line
// is the Content-Type, the rest the text's bytes.
#include "service/uTextCharset.h"

#include <QStringDecoder>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    const QByteArray input(reinterpret_cast<const char*>(AData), qsizetype(ASize));
    const qsizetype end = input.indexOf('\n');
    const QString contentType = QString::fromUtf8(end < 0 ? input : input.left(end));
    const QByteArray body = end < 0 ? QByteArray() : input.mid(end + 1);

    const QString charset = CharsetOf(contentType);
    const QByteArray text = TextAsUtf8(contentType, body);
    // Without a declared charset the bytes are kept as they came.
    if (charset.isEmpty() && text != body)
        __builtin_trap();
    // A conversion gives UTF-8; anything else is the bytes unchanged.
    if (text != body) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString decoded = utf8.decode(text);
        if (utf8.hasError())
            __builtin_trap();
    }
    return 0;
}

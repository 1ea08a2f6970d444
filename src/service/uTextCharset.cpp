#include "service/uTextCharset.h"

#include "common/uTextRules.h"

#include <QStringDecoder>
#include <QStringList>

QString CharsetOf(const QString& AContentType) {
    const QStringList parts = AContentType.split(u';');
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QString parameter = TextRules::Trim(parts[i]);
        const qsizetype eq = parameter.indexOf(u'=');
        if (eq < 0 ||
            TextRules::AsciiLower(TextRules::Trim(parameter.left(eq))) != QLatin1String("charset"))
            continue;
        QString value = TextRules::Trim(parameter.mid(eq + 1));
        if (value.size() >= 2 && value.startsWith(u'"') && value.endsWith(u'"'))
            value = value.mid(1, value.size() - 2);
        return TextRules::AsciiLower(value);
    }
    return QString();
}

QByteArray TextAsUtf8(const QString& AContentType, const QByteArray& ABody) {
    const QString charset = CharsetOf(AContentType);
    if (charset.isEmpty() || charset == QLatin1String("utf-8") ||
        charset == QLatin1String("utf8") || ABody.size() > MaxConvertedTextBytes)
        return ABody;
    QStringDecoder decoder(charset.toLatin1().constData(), QStringDecoder::Flag::Stateless);
    if (!decoder.isValid())
        return ABody;
    const QString text = decoder.decode(ABody);
    if (decoder.hasError())
        return ABody;
    return text.toUtf8();
}

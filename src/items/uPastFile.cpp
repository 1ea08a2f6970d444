#include "items/uPastFile.h"

#include "common/uTextRules.h"
#include "files/uSavedFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

namespace PastFile {
namespace {

QString Extension(const QString& APath) {
    const QString name = SavedFiles::FileNamePart(APath);
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot < 0 ? QString() : TextRules::AsciiLower(name.mid(dot));
}

} // namespace

bool IsPdf(const QString& APath) {
    return Extension(APath) == QLatin1String(".pdf");
}

QString DecodeText(const QByteArray& ABytes) {
    const auto strict = [](const char* ACharset, QByteArrayView ABody, QString& AText) {
        QStringDecoder decoder(ACharset, QStringDecoder::Flag::Stateless);
        if (!decoder.isValid())
            return false;
        AText = decoder.decode(ABody);
        return !decoder.hasError();
    };
    QString text;
    if (ABytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(QByteArrayView(ABytes).sliced(3));
    if (ABytes.startsWith("\xFF\xFE") && strict("UTF-16LE", QByteArrayView(ABytes).sliced(2), text))
        return text;
    if (ABytes.startsWith("\xFE\xFF") && strict("UTF-16BE", QByteArrayView(ABytes).sliced(2), text))
        return text;
    if (strict("UTF-8", ABytes, text))
        return text;
    // Japanese Windows programs write Shift_JIS (code page 932) without a mark.
    if (strict("Shift_JIS", ABytes, text))
        return text;
    return QString::fromUtf8(ABytes);
}

bool Read(const QString& APath, TReceivedImage& AItem, QString& AError) {
    AItem = TReceivedImage();
    AItem.Filename = SavedFiles::FileNamePart(APath);
    AItem.SavedPath = APath;
    AItem.IsText = Extension(APath) == QLatin1String(".txt");
    const QFileInfo info(APath);
    if (!info.exists() || !info.isFile()) {
        AError = QStringLiteral("ファイルが見つかりません");
        return false;
    }
    if (info.size() > MaxBytes) {
        AError =
            QStringLiteral("ファイルが大きすぎます（%1 MB まで）").arg(MaxBytes / (1024 * 1024));
        return false;
    }
    AItem.ReceivedAt = info.lastModified();
    QFile file(APath);
    if (!file.open(QIODevice::ReadOnly)) {
        AError = file.errorString();
        return false;
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        AError = file.errorString();
        return false;
    }
    if (AItem.IsText) {
        AItem.ContentType = QStringLiteral("text/plain");
        AItem.Text = SavedFiles::NormaliseLineBreaks(DecodeText(bytes));
        AItem.Data = std::move(bytes); // its own bytes, for Save as
    } else {
        AItem.ContentType = QStringLiteral("image/jpeg"); // the decoder goes by content
        AItem.Data = std::move(bytes);
    }
    return true;
}

} // namespace PastFile

bool ItemBytes(const TReceivedImage& AItem, QByteArray& ABytes, QString& AError) {
    if (!AItem.DataOnDisk) {
        ABytes = AItem.Data;
        return true;
    }
    TReceivedImage read;
    if (!PastFile::Read(AItem.SavedPath, read, AError))
        return false;
    ABytes = std::move(read.Data);
    return true;
}

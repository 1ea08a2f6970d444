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

namespace {

// The whole file, within MaxBytes; AModified gets its last-write time.
bool ReadBytes(const QString& APath, QByteArray& ABytes, QDateTime* AModified, QString& AError) {
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
    if (AModified != nullptr)
        *AModified = info.lastModified();
    QFile file(APath);
    if (!file.open(QIODevice::ReadOnly)) {
        AError = file.errorString();
        return false;
    }
    ABytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        AError = file.errorString();
        return false;
    }
    return true;
}

} // namespace

bool Read(const QString& APath, TReceivedImage& AItem, QString& AError) {
    AItem = TReceivedImage();
    AItem.Filename = SavedFiles::FileNamePart(APath);
    AItem.SavedPath = APath;
    AItem.IsText = Extension(APath) == QLatin1String(".txt");
    QByteArray bytes;
    if (!ReadBytes(APath, bytes, &AItem.ReceivedAt, AError))
        return false;
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
    // The file's bytes only: a saved text is not decoded again just to be written out.
    return PastFile::ReadBytes(AItem.SavedPath, ABytes, nullptr, AError);
}

#include "files/uSavedFiles.h"

#include "common/uTextRules.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace SavedFiles {
namespace {

constexpr qsizetype MaxNameBytes = 240;

bool IsReservedDeviceName(const QString& AName) {
    const qsizetype dot = AName.indexOf(u'.');
    const QString stem = TextRules::AsciiLower(TextRules::Trim(dot < 0 ? AName : AName.left(dot)));
    static const QStringList fixed = {QStringLiteral("con"), QStringLiteral("prn"),
                                      QStringLiteral("aux"), QStringLiteral("nul")};
    if (fixed.contains(stem) || stem == QLatin1String("conin$") || stem == QLatin1String("conout$"))
        return true;
    // COM1-COM9 and LPT1-LPT9, and the superscript digits ¹ ² ³ that Windows also takes.
    const auto isPortDigit = [](QChar c) {
        return (c >= u'1' && c <= u'9') || c == u'\u00B9' || c == u'\u00B2' || c == u'\u00B3';
    };
    return stem.size() == 4 &&
           (stem.startsWith(QLatin1String("com")) || stem.startsWith(QLatin1String("lpt"))) &&
           isPortDigit(stem.at(3));
}

// The extension a file of these bytes should have, from its first bytes, else from its
// media type; empty when neither tells.
QString OwnExtension(const QByteArray& ABytes, const QString& AContentType) {
    if (ABytes.startsWith("\xFF\xD8\xFF"))
        return QStringLiteral(".jpg");
    if (ABytes.startsWith("\x89PNG\r\n\x1A\n"))
        return QStringLiteral(".png");
    if (ABytes.startsWith("GIF87a") || ABytes.startsWith("GIF89a"))
        return QStringLiteral(".gif");
    if (ABytes.startsWith("BM"))
        return QStringLiteral(".bmp");
    if (ABytes.startsWith("RIFF") && ABytes.mid(8, 4) == "WEBP")
        return QStringLiteral(".webp");
    if (ABytes.startsWith(QByteArray("II*\0", 4)) || ABytes.startsWith(QByteArray("MM\0*", 4)))
        return QStringLiteral(".tif");
    if (ABytes.startsWith("%PDF-"))
        return QStringLiteral(".pdf");
    if (ABytes.mid(4, 8) == "ftypheic" || ABytes.mid(4, 8) == "ftypheix" ||
        ABytes.mid(4, 8) == "ftypmif1")
        return QStringLiteral(".heic");
    const QString type = TextRules::AsciiLower(TextRules::Trim(AContentType.section(u';', 0, 0)));
    static const QList<QPair<QString, QString>> byType = {
        {QStringLiteral("image/jpeg"), QStringLiteral(".jpg")},
        {QStringLiteral("image/png"), QStringLiteral(".png")},
        {QStringLiteral("image/gif"), QStringLiteral(".gif")},
        {QStringLiteral("image/bmp"), QStringLiteral(".bmp")},
        {QStringLiteral("image/webp"), QStringLiteral(".webp")},
        {QStringLiteral("image/tiff"), QStringLiteral(".tif")},
        {QStringLiteral("image/heic"), QStringLiteral(".heic")},
        {QStringLiteral("application/pdf"), QStringLiteral(".pdf")}};
    for (const auto& [mime, ext] : byType) {
        if (type == mime)
            return ext;
    }
    return QString();
}

QString WithoutTrailingDotsAndBlanks(QString AName) {
    while (!AName.isEmpty() && (AName.back() == u'.' || AName.back() == u' '))
        AName.chop(1);
    return AName;
}

// The stem cut so that the name fits in MaxNameBytes of UTF-8, keeping a short extension.
// What is left never ends in a dot or blank, which Windows would drop.
QString ShortenedToFit(const QString& AName) {
    if (AName.toUtf8().size() <= MaxNameBytes)
        return AName;
    const qsizetype dot = AName.lastIndexOf(u'.');
    QString ext = dot > 0 ? AName.mid(dot) : QString();
    if (ext.toUtf8().size() > 16)
        ext.clear();
    QString stem = dot > 0 && !ext.isEmpty() ? AName.left(dot) : AName;
    while (!stem.isEmpty() && (stem + ext).toUtf8().size() > MaxNameBytes) {
        stem.chop(1);
        if (!stem.isEmpty() && stem.back().isHighSurrogate())
            stem.chop(1);
    }
    return WithoutTrailingDotsAndBlanks(stem + ext);
}

QString JoinName(const QString& AFolder, const QString& AName) {
    if (AFolder.endsWith(u'/') || AFolder.endsWith(QDir::separator()))
        return AFolder + AName;
    return AFolder + QDir::separator() + AName;
}

} // namespace

QString FileNamePart(const QString& AName) {
    const qsizetype cut =
        std::max({AName.lastIndexOf(u'\\'), AName.lastIndexOf(u'/'), AName.lastIndexOf(u':')});
    return AName.mid(cut + 1);
}

QString SafeFileName(const QString& AName) {
    QString name = FileNamePart(AName);
    for (QChar& c : name) {
        const char16_t u = c.unicode();
        // Format characters (such as the right-to-left override) could make a name
        // look like another kind of file.
        if (u < 0x20 || u == 0x7F || c.category() == QChar::Other_Format || u == u'<' ||
            u == u'>' || u == u'"' || u == u'|' || u == u'?' || u == u'*')
            c = u'_';
    }
    name = TextRules::Trim(WithoutTrailingDotsAndBlanks(name));
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return QStringLiteral("image.jpg");
    if (IsReservedDeviceName(name))
        name.prepend(u'_');
    name = ShortenedToFit(name);
    // Cutting a long name can end it in blanks, or leave just a device's name.
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return QStringLiteral("image.jpg");
    if (IsReservedDeviceName(name))
        name = ShortenedToFit(u'_' + name);
    return name;
}

QString PatientFileName(const QString& APatientId, const QString& AFilename) {
    QString digits;
    for (QChar c : APatientId) {
        if (c >= u'0' && c <= u'9')
            digits += c;
    }
    if (digits.isEmpty())
        return AFilename;
    return QStringLiteral("pt") + digits + u'_' + FileNamePart(AFilename);
}

QString ResultFileName(const QString& APatientCode, const QString& AKind, const QDateTime& ANow) {
    QString prefix = TextRules::Trim(APatientCode);
    if (prefix.isEmpty())
        prefix = QStringLiteral("OCR");
    for (QChar& c : prefix) {
        if (c == u'/' || c == u'\\' || c == u':')
            c = u'_';
    }
    return prefix + AKind + u'_' + ANow.toString(QStringLiteral("yyyyMMdd_HHmmss")) +
           QStringLiteral(".txt");
}

QString ReceivedImageName(const QString& AName, const QByteArray& ABytes,
                          const QString& AContentType) {
    static const QStringList pictures = {
        QStringLiteral(".jpg"),  QStringLiteral(".jpeg"), QStringLiteral(".png"),
        QStringLiteral(".bmp"),  QStringLiteral(".gif"),  QStringLiteral(".tif"),
        QStringLiteral(".tiff"), QStringLiteral(".webp"), QStringLiteral(".heic"),
        QStringLiteral(".heif"), QStringLiteral(".pdf")};
    QString name = TextRules::Trim(FileNamePart(AName));
    while (!name.isEmpty() && (name.back() == u'.' || name.back() == u' '))
        name.chop(1);
    while (name.startsWith(u'.'))
        name.remove(0, 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString ext = dot < 0 ? QString() : TextRules::AsciiLower(name.mid(dot));
    if (!name.isEmpty() && pictures.contains(ext))
        return name;
    QString own = OwnExtension(ABytes, AContentType);
    if (own.isEmpty())
        own = QStringLiteral(".bin");
    return (name.isEmpty() ? QStringLiteral("image") : name) + own;
}

QString UniqueFilePath(const QString& AFolder, const QString& AName) {
    const QString f = SafeFileName(AName);
    // Any entry counts as taken, a link that points nowhere too: a write must never go
    // through a link to somewhere else.
    const auto taken = [](const QString& APath) {
        const QFileInfo info(APath);
        return info.exists() || info.isSymLink();
    };
    QString path = JoinName(AFolder, f);
    if (!taken(path))
        return path;
    const qsizetype dot = f.lastIndexOf(u'.');
    const QString base = dot < 0 ? f : f.left(dot);
    const QString ext = dot < 0 ? QString() : f.mid(dot);
    for (int n = 1;; ++n) {
        path = JoinName(AFolder, QStringLiteral("%1_(%2)%3").arg(base).arg(n).arg(ext));
        if (!taken(path))
            return path;
    }
}

QString AbsoluteFolder(const QString& AFolder) {
    const QString folder = TextRules::Trim(AFolder);
    if (folder.isEmpty() || QDir::isAbsolutePath(folder))
        return folder;
    return QDir::toNativeSeparators(QDir::cleanPath(QDir::home().absoluteFilePath(folder)));
}

QString NormaliseLineBreaks(const QString& AText) {
    QString out;
    out.reserve(AText.size() + AText.size() / 16);
    for (qsizetype i = 0; i < AText.size(); ++i) {
        const QChar c = AText.at(i);
        if (c == u'\r') {
            out += QStringLiteral("\r\n");
            if (i + 1 < AText.size() && AText.at(i + 1) == u'\n')
                ++i;
        } else if (c == u'\n') {
            out += QStringLiteral("\r\n");
        } else {
            out += c;
        }
    }
    return out;
}

bool WriteFileAtomically(const QString& APath, const QByteArray& ABytes, QString& AError) {
    QSaveFile file(APath);
    if (!file.open(QIODevice::WriteOnly)) {
        AError = file.errorString();
        return false;
    }
    if (file.write(ABytes) != ABytes.size()) {
        AError = file.errorString();
        file.cancelWriting();
        file.commit();
        return false;
    }
    if (!file.commit()) {
        AError = file.errorString();
        return false;
    }
    return true;
}

QByteArray TextFileBytes(const QString& AText) {
    return QByteArray("\xEF\xBB\xBF") + AText.toUtf8();
}

} // namespace SavedFiles

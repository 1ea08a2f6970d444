#include "settings/uIniFile.h"

#include "common/uTextRules.h"

#include <QHash>
#include <QSet>
#include <QStringDecoder>

using TextRules::AsciiLower;
using TextRules::SameTextAscii;
using TextRules::Trim;

namespace {

// The text of the file and whether it decoded without error.
QString DecodeText(const QByteArray& ABytes, bool* AClean) {
    QByteArrayView bytes(ABytes);
    QStringDecoder::Encoding encoding = QStringDecoder::Utf8;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        bytes = bytes.sliced(3);
    } else if (bytes.startsWith("\xFF\xFE")) {
        bytes = bytes.sliced(2);
        encoding = QStringDecoder::Utf16LE;
    } else if (bytes.startsWith("\xFE\xFF")) {
        bytes = bytes.sliced(2);
        encoding = QStringDecoder::Utf16BE;
    }
    QStringDecoder decoder(encoding, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    // A stray undecodable line is tolerated (it is dropped like any junk line); NULs are
    // what UTF-16 without a mark and binary files are made of.
    if (AClean != nullptr)
        *AClean = !text.contains(QChar(u'\0')) &&
                  !(encoding != QStringDecoder::Utf8 && decoder.hasError());
    return text;
}

} // namespace

bool TIniFile::IsReadable(const QByteArray& ABytes) {
    bool clean = false;
    DecodeText(ABytes, &clean);
    return clean;
}

TIniFile TIniFile::Parse(const QByteArray& ABytes) {
    QString text = DecodeText(ABytes, nullptr);
    // CR LF, LF and a lone CR all end a line.
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');

    TIniFile ini;
    // Sections and their keys by folded name, so that a file of many of them reads in
    // linear time.
    QHash<QString, qsizetype> sectionAt;
    QList<QSet<QString>> keysOf;
    qsizetype current = -1;
    for (const QStringView rawLine : QStringTokenizer(text, u'\n')) {
        const QString line = Trim(rawLine.toString());
        if (line.isEmpty() || line.startsWith(u';'))
            continue;
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            const QString name = Trim(line.mid(1, line.size() - 2));
            const QString folded = AsciiLower(name);
            const auto found = sectionAt.constFind(folded);
            if (found != sectionAt.constEnd()) {
                current = *found;
            } else {
                current = ini.FSections.size();
                ini.FSections.append({name, {}});
                keysOf.append(QSet<QString>());
                sectionAt.insert(folded, current);
            }
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        // Lines outside a section and lines without "=" are not entries; they are dropped.
        if (current < 0 || eq < 0)
            continue;
        const QString key = Trim(line.left(eq));
        if (key.isEmpty())
            continue;
        // The first of duplicate keys is the one read; later ones would be shadowed anyway.
        if (!keysOf[current].contains(AsciiLower(key))) {
            keysOf[current].insert(AsciiLower(key));
            ini.FSections[current].Entries.append({key, Trim(line.mid(eq + 1))});
        }
    }
    return ini;
}

QByteArray TIniFile::Serialize() const {
    QString out;
    for (const TSection& s : FSections) {
        out += u'[' + s.Name + QStringLiteral("]\r\n");
        for (const TEntry& e : s.Entries)
            out += e.Key + u'=' + e.Value + QStringLiteral("\r\n");
        out += QStringLiteral("\r\n");
    }
    return QByteArray("\xEF\xBB\xBF") + out.toUtf8();
}

const TIniFile::TSection* TIniFile::FindSection(const QString& AName) const {
    for (const TSection& s : FSections) {
        if (SameTextAscii(s.Name, AName))
            return &s;
    }
    return nullptr;
}

TIniFile::TSection& TIniFile::SectionFor(const QString& AName) {
    for (TSection& s : FSections) {
        if (SameTextAscii(s.Name, AName))
            return s;
    }
    FSections.append({AName, {}});
    return FSections.last();
}

bool TIniFile::HasKey(const QString& ASection, const QString& AKey) const {
    if (const TSection* s = FindSection(ASection)) {
        for (const TEntry& e : s->Entries) {
            if (SameTextAscii(e.Key, AKey))
                return true;
        }
    }
    return false;
}

QString TIniFile::ReadString(const QString& ASection, const QString& AKey,
                             const QString& ADefault) const {
    if (const TSection* s = FindSection(ASection)) {
        for (const TEntry& e : s->Entries) {
            if (SameTextAscii(e.Key, AKey))
                return e.Value;
        }
    }
    return ADefault;
}

bool TIniFile::ReadBool(const QString& ASection, const QString& AKey, bool ADefault) const {
    qint64 value = 0;
    if (!ParseIniInteger(ReadString(ASection, AKey), value))
        return ADefault;
    return value != 0;
}

void TIniFile::WriteString(const QString& ASection, const QString& AKey, const QString& AValue) {
    TSection& s = SectionFor(ASection);
    for (TEntry& e : s.Entries) {
        if (SameTextAscii(e.Key, AKey)) {
            e.Value = AValue;
            return;
        }
    }
    s.Entries.append({AKey, AValue});
}

void TIniFile::WriteBool(const QString& ASection, const QString& AKey, bool AValue) {
    WriteString(ASection, AKey, AValue ? QStringLiteral("1") : QStringLiteral("0"));
}

void TIniFile::DeleteKey(const QString& ASection, const QString& AKey) {
    for (TSection& s : FSections) {
        if (SameTextAscii(s.Name, ASection)) {
            s.Entries.removeIf([&](const TEntry& e) { return SameTextAscii(e.Key, AKey); });
            return;
        }
    }
}

void TIniFile::EraseSection(const QString& ASection) {
    FSections.removeIf([&](const TSection& s) { return SameTextAscii(s.Name, ASection); });
}

QStringList TIniFile::SectionNames() const {
    QStringList names;
    for (const TSection& s : FSections)
        names << s.Name;
    return names;
}

bool ParseIniInteger(const QString& AText, qint64& AValue) {
    QString t = AText;
    bool negative = false;
    if (t.startsWith(u'-') || t.startsWith(u'+')) {
        negative = t.startsWith(u'-');
        t = t.mid(1);
    }
    int base = 10;
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        base = 16;
        t = t.mid(2);
    }
    if (t.isEmpty())
        return false;
    for (QChar c : t) {
        const bool ok = base == 10 ? (c >= u'0' && c <= u'9')
                                   : ((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') ||
                                      (c >= u'A' && c <= u'F'));
        if (!ok)
            return false;
    }
    bool ok = false;
    const qint64 v = t.toLongLong(&ok, base);
    if (!ok)
        return false;
    AValue = negative ? -v : v;
    return true;
}

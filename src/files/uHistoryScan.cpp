#include "files/uHistoryScan.h"

#include "common/uTextRules.h"
#include "platform/uFolderFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <vector>

namespace HistoryScan {

namespace {

const QString KindLab = QStringLiteral("検査");
const QString KindPrescription = QStringLiteral("処方");
const QString KindText = QStringLiteral("テキスト");
const QString KindImage = QStringLiteral("画像");
const QString KindPdf = QStringLiteral("PDF");

bool IsDigit(QChar AChar) {
    return AChar.unicode() >= u'0' && AChar.unicode() <= u'9';
}

bool AllDigits(QStringView AText) {
    return std::all_of(AText.begin(), AText.end(), IsDigit);
}

// "yyyymmdd_hhnnss" at the start of AText, anything after it.
bool StartsWithStamp(QStringView AText) {
    return AText.size() >= 15 && AllDigits(AText.first(8)) && AText.at(8) == u'_' &&
           AllDigits(AText.sliced(9, 6));
}

// AFolder ends in a separator.
TFileEntry MakeEntry(const QString& AFolder, QString AName, QString AKind, QDateTime AModified,
                     qint64 ASize) {
    TFileEntry entry;
    entry.Path = AFolder + AName;
    entry.KarteNo = KarteNoOf(AName);
    entry.Name = std::move(AName);
    entry.Kind = std::move(AKind);
    entry.Modified = std::move(AModified);
    entry.Size = ASize;
    return entry;
}

} // namespace

QString KindOf(const QString& AName) {
    const qsizetype dot = AName.lastIndexOf(u'.');
    if (dot < 0)
        return {};
    const QString ext = TextRules::AsciiLower(AName.sliced(dot));
    if (ext == u".txt") {
        if (AName.contains(u"_検査"))
            return KindLab;
        if (AName.contains(u"_処方"))
            return KindPrescription;
        return KindText;
    }
    static const QString images[] = {QStringLiteral(".jpg"),  QStringLiteral(".jpeg"),
                                     QStringLiteral(".png"),  QStringLiteral(".bmp"),
                                     QStringLiteral(".gif"),  QStringLiteral(".tif"),
                                     QStringLiteral(".tiff"), QStringLiteral(".webp")};
    if (std::find(std::begin(images), std::end(images), ext) != std::end(images))
        return KindImage;
    if (ext == u".pdf")
        return KindPdf;
    return {};
}

QString KarteNoOf(const QString& AName) {
    const QStringView name(AName);
    const bool ptPrefix =
        name.size() >= 3 &&
        TextRules::SameTextAscii(name.first(2).toString(), QStringLiteral("pt")) &&
        IsDigit(name.at(2));
    const qsizetype start = ptPrefix ? 2 : 0;
    qsizetype end = start;
    while (end < name.size() && IsDigit(name.at(end)))
        ++end;
    if (end == start || end == name.size() || name.at(end) != u'_')
        return {};
    const QString number = name.sliced(start, end - start).toString();
    if (ptPrefix)
        return number;
    // Without the prefix only a result name counts: number_[検査_|処方_]yyyymmdd_hhnnss...
    QStringView rest = name.sliced(end + 1);
    if (rest.startsWith(u"検査_"))
        rest = rest.sliced(3);
    else if (rest.startsWith(u"処方_"))
        rest = rest.sliced(3);
    return StartsWithStamp(rest) ? number : QString();
}

// The walk gives each listed file once; the kind is decided on the name before the file
// is looked at. Once twice MaxFiles are held, the older half is dropped, so a tree of any
// size costs at most that many entries.
namespace {

// Newer first; equal times by folded name; then as the walk met them.
struct TOrderKey {
    qint64 Time;
    QString FoldedName;
    qsizetype Seen;
    bool operator<(const TOrderKey& AOther) const {
        if (Time != AOther.Time)
            return Time > AOther.Time;
        if (FoldedName != AOther.FoldedName)
            return FoldedName < AOther.FoldedName;
        return Seen < AOther.Seen;
    }
};

struct TKeyed {
    TOrderKey Key;
    TFileEntry Entry;
};

void KeepNewest(std::vector<TKeyed>& AHeld, std::size_t ACount) {
    if (AHeld.size() <= ACount)
        return;
    std::nth_element(AHeld.begin(), AHeld.begin() + std::ptrdiff_t(ACount), AHeld.end(),
                     [](const TKeyed& A, const TKeyed& B) { return A.Key < B.Key; });
    AHeld.erase(AHeld.begin() + std::ptrdiff_t(ACount), AHeld.end());
}

bool Collect(bool AFast, const QString& AFolder, const std::function<bool(const QString&)>& AKeep,
             QList<TFileEntry>& AEntries, QString& AError, qsizetype* ALeftOut) {
    AEntries.clear();
    if (ALeftOut != nullptr)
        *ALeftOut = 0;
    std::vector<TKeyed> held;
    qsizetype seen = 0;
    const auto wanted = [&AKeep](const QString& AName) {
        return (!AKeep || AKeep(AName)) && !KindOf(AName).isEmpty();
    };
    const auto take = [&held, &seen](TFolderFile&& AFile) {
        QString kind = KindOf(AFile.Name);
        TFileEntry entry = MakeEntry(AFile.Folder, std::move(AFile.Name), std::move(kind),
                                     std::move(AFile.Modified), AFile.Size);
        TOrderKey key{entry.Modified.toMSecsSinceEpoch(), TextRules::AsciiLower(entry.Name),
                      seen++};
        held.push_back({std::move(key), std::move(entry)});
        if (held.size() >= 2 * std::size_t(MaxFiles))
            KeepNewest(held, MaxFiles);
        return true;
    };
    const bool listed = AFast ? WalkFolderFiles(AFolder, wanted, take, AError)
                              : WalkFolderFilesPortable(AFolder, wanted, take, AError);
    if (!listed)
        return false;
    KeepNewest(held, MaxFiles);
    std::sort(held.begin(), held.end(),
              [](const TKeyed& A, const TKeyed& B) { return A.Key < B.Key; });
    AEntries.reserve(qsizetype(held.size()));
    for (TKeyed& k : held)
        AEntries.append(std::move(k.Entry));
    if (ALeftOut != nullptr)
        *ALeftOut = seen - AEntries.size();
    return true;
}

} // namespace

bool ScanFolderPortable(const QString& AFolder, QList<TFileEntry>& AEntries, QString& AError,
                        qsizetype* ALeftOut) {
    return Collect(false, AFolder, {}, AEntries, AError, ALeftOut);
}

bool ScanFolder(const QString& AFolder, QList<TFileEntry>& AEntries, QString& AError,
                qsizetype* ALeftOut) {
    return Collect(true, AFolder, {}, AEntries, AError, ALeftOut);
}

bool ScanFolderFor(const QString& AFolder, const std::function<bool(const QString&)>& AKeep,
                   QList<TFileEntry>& AEntries, QString& AError, qsizetype* ALeftOut) {
    return Collect(true, AFolder, AKeep, AEntries, AError, ALeftOut);
}

void SortEntries(QList<TFileEntry>& AEntries) {
    struct TKey {
        qint64 Time;
        QString Name; // ASCII-folded
        qsizetype Index;
    };
    std::vector<TKey> keys;
    keys.reserve(std::size_t(AEntries.size()));
    for (qsizetype i = 0; i < AEntries.size(); ++i)
        keys.push_back(
            {AEntries[i].Modified.toMSecsSinceEpoch(), TextRules::AsciiLower(AEntries[i].Name), i});
    // Stable, so that equal entries keep the order of the walk.
    std::stable_sort(keys.begin(), keys.end(), [](const TKey& A, const TKey& B) {
        if (A.Time != B.Time)
            return A.Time > B.Time;
        return A.Name < B.Name;
    });
    QList<TFileEntry> sorted;
    sorted.reserve(AEntries.size());
    for (const TKey& key : keys)
        sorted.append(std::move(AEntries[key.Index]));
    AEntries = std::move(sorted);
}

QString QueryOf(const QString& ASearchText) {
    return TextRules::AsciiLower(TextRules::Trim(ASearchText));
}

QList<TFileEntry> Filter(const QList<TFileEntry>& AAll, const QString& AQuery) {
    if (AQuery.isEmpty())
        return AAll;
    QList<TFileEntry> shown;
    for (const TFileEntry& entry : AAll) {
        if (TextRules::AsciiLower(entry.Name).contains(AQuery) ||
            (!entry.KarteNo.isEmpty() && entry.KarteNo.contains(AQuery)))
            shown.append(entry);
    }
    return shown;
}

namespace {

// The text between the first two fields of a date or time format ("yyyy/MM/dd" gives
// "/", "d. M. yyyy" gives "."), as the regional settings name it for Windows.
QString SeparatorOf(const QString& AFormat, const QString& AFallback) {
    enum { BeforeField, InField, InSeparator } state = BeforeField;
    QString separator;
    bool quoted = false;
    for (const QChar c : AFormat) {
        if (c == u'\'') {
            if (state == InSeparator)
                break;
            quoted = !quoted;
            continue;
        }
        if (quoted)
            continue;
        if (c.isLetter()) {
            if (state == InSeparator)
                break;
            state = InField;
        } else if (state != BeforeField) {
            state = InSeparator;
            separator += c;
        }
    }
    separator = separator.trimmed();
    return separator.isEmpty() ? AFallback : separator;
}

QString Padded(int AValue, int AWidth) {
    return QString::number(AValue).rightJustified(AWidth, u'0');
}

} // namespace

TRegionalFormat TRegionalFormat::FromLocale(const QLocale& ALocale) {
    TRegionalFormat format;
    format.DateSeparator =
        SeparatorOf(ALocale.dateFormat(QLocale::ShortFormat), format.DateSeparator);
    format.TimeSeparator =
        SeparatorOf(ALocale.timeFormat(QLocale::ShortFormat), format.TimeSeparator);
    const QString group = ALocale.groupSeparator();
    if (!group.isEmpty())
        format.ThousandSeparator = group;
    return format;
}

QString DateText(const QDateTime& ATime, const TRegionalFormat& AFormat) {
    const QDate date = ATime.date();
    const QTime time = ATime.time();
    return Padded(date.year(), 4) + AFormat.DateSeparator + Padded(date.month(), 2) +
           AFormat.DateSeparator + Padded(date.day(), 2) + u' ' + Padded(time.hour(), 2) +
           AFormat.TimeSeparator + Padded(time.minute(), 2);
}

QString SizeText(qint64 ASize, const TRegionalFormat& AFormat) {
    // (Size + 1023) div 1024, without the overflow near the top of the range.
    const qint64 kb = ASize > 0 ? ASize / 1024 + (ASize % 1024 != 0 ? 1 : 0) : 0;
    const QString digits = QString::number(kb);
    QString text;
    for (qsizetype i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            text += AFormat.ThousandSeparator;
        text += digits.at(i);
    }
    return text + QStringLiteral(" KB");
}

} // namespace HistoryScan

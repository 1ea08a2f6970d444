#pragma once
#include <QDateTime>
#include <QList>
#include <QString>
#include <functional>

class QLocale;

// One file of the saved-file history.
struct TFileEntry {
    QString Path;       // the folder as given, joined with the file's path inside it
    QString Name;       // the file's own name
    QString KarteNo;    // patient number read from Name; empty when the name carries none
    QString Kind;       // "検査", "処方", "テキスト", "画像" or "PDF"
    QDateTime Modified; // last-write time, local
    qint64 Size = -1;   // bytes; -1 when it could not be read
};

// The history's scan of the save folder and its name rules. It only reads: nothing is
// renamed, moved or deleted.
namespace HistoryScan {

// The most files one scan keeps: the newest ones.
inline constexpr int MaxFiles = 5000;

// The kind of a file by its name, or an empty text when the file is not listed.
QString KindOf(const QString& AName);
// The patient number carried by a file name, or an empty text.
QString KarteNoOf(const QString& AName);

// Every listed file of AFolder's tree (hidden files included), newest first: the
// MaxFiles newest of them, however many the tree holds, kept in bounded memory while the
// walk goes on; ALeftOut (when given) gets how many older ones were left out. Files that
// go or cannot be read during the walk are passed over. False, with the system's error
// text in AError and AEntries empty, when AFolder itself cannot be listed.
bool ScanFolder(const QString& AFolder, QList<TFileEntry>& AEntries, QString& AError,
                qsizetype* ALeftOut = nullptr);
// The same walk through Qt's directory iterator alone: ScanFolder uses it where the
// platform has no faster walk of its own.
bool ScanFolderPortable(const QString& AFolder, QList<TFileEntry>& AEntries, QString& AError,
                        qsizetype* ALeftOut = nullptr);
// The same walk and limit over the listed files that AKeep also takes by name (one
// patient's lab tables): the MaxFiles newest of those, ALeftOut counting the older ones.
bool ScanFolderFor(const QString& AFolder, const std::function<bool(const QString&)>& AKeep,
                   QList<TFileEntry>& AEntries, QString& AError, qsizetype* ALeftOut = nullptr);

// Newer Modified first; equal times by Name, ASCII case folded, then by character code.
void SortEntries(QList<TFileEntry>& AEntries);

// The search text as it is matched: trimmed, then ASCII letters lower-cased.
QString QueryOf(const QString& ASearchText);
// The entries of AAll, in order, whose lower-cased name or patient number contains
// AQuery (a QueryOf text); all of them when AQuery is empty.
QList<TFileEntry> Filter(const QList<TFileEntry>& AAll, const QString& AQuery);

// The separators of the user's regional settings that the table's texts use.
struct TRegionalFormat {
    QString DateSeparator = QStringLiteral("/");
    QString TimeSeparator = QStringLiteral(":");
    QString ThousandSeparator = QStringLiteral(",");

    static TRegionalFormat FromLocale(const QLocale& ALocale);
};

// "yyyy/mm/dd hh:nn" with the regional separators.
QString DateText(const QDateTime& ATime, const TRegionalFormat& AFormat);
// Whole kilobytes rounded up, digits grouped by three: "#,##0 KB". A size that could not
// be read (-1) shows as 0 KB.
QString SizeText(qint64 ASize, const TRegionalFormat& AFormat);

} // namespace HistoryScan

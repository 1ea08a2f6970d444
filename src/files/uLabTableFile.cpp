#include "files/uLabTableFile.h"

#include "common/uTextRules.h"

#include <QHash>
#include <QRegularExpression>
#include <QStringDecoder>

namespace LabTableFile {

namespace {

const QString ExamDateKey = QStringLiteral("検査実施日");
const QString InstitutionKey = QStringLiteral("検査医療機関");
const QString HeaderLine = QStringLiteral("項目\t検査値\t単位");

// Full-width digits and the full-width forms of . / - as ASCII.
QString AsciiDigits(const QString& AText) {
    QString text = AText;
    for (QChar& c : text) {
        const char16_t u = c.unicode();
        if (u >= u'０' && u <= u'９')
            c = QChar(u'0' + (u - u'０'));
        else if (u == u'．')
            c = u'.';
        else if (u == u'／')
            c = u'/';
        else if (u == u'－')
            c = u'-';
    }
    return text;
}

// TextRules::Trim on a view: characters at or below U+0020 off both ends.
QStringView TrimView(QStringView AText) {
    while (!AText.isEmpty() && AText.front().unicode() <= 0x20)
        AText = AText.sliced(1);
    while (!AText.isEmpty() && AText.back().unicode() <= 0x20)
        AText.chop(1);
    return AText;
}

QString LineRef(qsizetype ALine) {
    return QString::number(ALine + 1) + QStringLiteral("行目");
}

} // namespace

bool Parse(const QByteArray& ABytes, TLabTableFile& ATable, QString& AError) {
    ATable = {};
    AError.clear();
    QByteArrayView bytes(ABytes);
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes = bytes.sliced(3);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        AError = QStringLiteral("UTF-8の文字として読めません");
        return false;
    }
    // Views into the text: a table's lines and fields cost no copies until they are kept.
    QList<QStringView> lines = QStringView(text).split(u'\n');
    for (QStringView& line : lines) {
        if (line.endsWith(u'\r'))
            line.chop(1);
    }
    qsizetype header = -1;
    for (qsizetype i = 0; i < lines.size() && header < 0; ++i) {
        const QStringView line = lines.at(i);
        if (line == HeaderLine)
            header = i;
        else if (line.startsWith(ExamDateKey) && line.sliced(ExamDateKey.size()).startsWith(u'\t'))
            ATable.ExamDate = TrimView(line.sliced(ExamDateKey.size() + 1)).toString();
        else if (line.startsWith(InstitutionKey) &&
                 line.sliced(InstitutionKey.size()).startsWith(u'\t'))
            ATable.Institution = TrimView(line.sliced(InstitutionKey.size() + 1)).toString();
    }
    if (header < 0) {
        AError = QStringLiteral("見出し行（項目・検査値・単位）がありません");
        return false;
    }
    // Which value of a test named twice is the right one cannot be told: neither is taken.
    QHash<QString, int> seen;
    QList<TLabTableRow> rows;
    for (qsizetype i = header + 1; i < lines.size(); ++i) {
        const QStringView line = lines.at(i);
        if (TrimView(line).isEmpty())
            continue;
        const QList<QStringView> fields = line.split(u'\t');
        if (fields.size() != 3) {
            ATable.Notes << LineRef(i) + QStringLiteral("：列が3つではありません（") +
                                QString::number(fields.size()) +
                                QStringLiteral("列）。この行は読み飛ばしました");
            continue;
        }
        TLabTableRow row{TrimView(fields[0]).toString(), TrimView(fields[1]).toString(),
                         TrimView(fields[2]).toString()};
        if (row.Name.isEmpty() || row.Value.isEmpty()) {
            ATable.Notes << LineRef(i) + QStringLiteral(
                                             "：項目名か検査値が空です。この行は読み飛ばしました");
            continue;
        }
        ++seen[row.Name];
        rows.append(std::move(row));
    }
    for (TLabTableRow& row : rows) {
        const int count = seen.value(row.Name);
        if (count == 1)
            ATable.Rows.append(std::move(row));
        else if (count > 1) {
            ATable.Notes << QStringLiteral("「%1」が%2回あります。どの値か決められないため読み"
                                           "飛ばしました")
                                .arg(row.Name)
                                .arg(count);
            seen[row.Name] = 0; // noted once
        }
    }
    if (ATable.Rows.isEmpty()) {
        AError = ATable.Notes.isEmpty()
                     ? QStringLiteral("検査値の行がありません")
                     : QStringLiteral("読める検査値の行がありません（") +
                           ATable.Notes.join(QStringLiteral("／")) + QStringLiteral("）");
        return false;
    }
    return true;
}

namespace {

bool IsDigit(QChar AChar) {
    return AChar.unicode() >= u'0' && AChar.unicode() <= u'9';
}

// The number of up to AMax digits at AAt; -1 when there is none.
int DigitsAt(QStringView AText, qsizetype& AAt, int AMax) {
    int value = 0, count = 0;
    while (AAt < AText.size() && count < AMax && IsDigit(AText[AAt])) {
        value = value * 10 + (AText[AAt].unicode() - u'0');
        ++AAt;
        ++count;
    }
    return count > 0 ? value : -1;
}

void SkipBlanks(QStringView AText, qsizetype& AAt) {
    while (AAt < AText.size() && AText[AAt].unicode() <= 0x20)
        ++AAt;
}

// A separator after the year (ADay false) or the month (ADay true).
bool SeparatorAt(QStringView AText, qsizetype& AAt, bool ADay) {
    SkipBlanks(AText, AAt);
    if (AAt >= AText.size())
        return false;
    const QChar c = AText[AAt];
    if (c == u'-' || c == u'/' || c == u'.' || c == (ADay ? u'月' : u'年')) {
        ++AAt;
        SkipBlanks(AText, AAt);
        return true;
    }
    return false;
}

} // namespace

// Written out rather than matched with a pattern: it runs for every report read.
QDate DateOf(const QString& AText) {
    const QString ascii = AsciiDigits(AText);
    const QStringView text = TrimView(ascii);
    qsizetype at = 0;
    const int year = DigitsAt(text, at, 4);
    if (at != 4)
        return {};
    if (text.size() == 8 && IsDigit(text[4])) {
        const int month = DigitsAt(text, at, 2), day = DigitsAt(text, at, 2);
        return at == 8 ? QDate(year, month, day) : QDate();
    }
    if (!SeparatorAt(text, at, false))
        return {};
    const int month = DigitsAt(text, at, 2);
    if (month < 0 || !SeparatorAt(text, at, true))
        return {};
    const int day = DigitsAt(text, at, 2);
    if (day < 0)
        return {};
    SkipBlanks(text, at);
    if (at < text.size() && text[at] == u'日')
        ++at;
    return at == text.size() ? QDate(year, month, day) : QDate();
}

QDate StampDateOf(const QString& AFileName) {
    static const QRegularExpression stamp(QStringLiteral("_([0-9]{8})_[0-9]{6}"));
    const QRegularExpressionMatch m = stamp.match(AFileName);
    return m.hasMatch() ? DateOf(m.captured(1)) : QDate();
}

} // namespace LabTableFile

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
    QStringList lines = text.split(u'\n');
    for (QString& line : lines) {
        if (line.endsWith(u'\r'))
            line.chop(1);
    }
    qsizetype header = -1;
    for (qsizetype i = 0; i < lines.size() && header < 0; ++i) {
        const QString& line = lines.at(i);
        if (line == HeaderLine)
            header = i;
        else if (line.startsWith(ExamDateKey + u'\t'))
            ATable.ExamDate = TextRules::Trim(line.sliced(ExamDateKey.size() + 1));
        else if (line.startsWith(InstitutionKey + u'\t'))
            ATable.Institution = TextRules::Trim(line.sliced(InstitutionKey.size() + 1));
    }
    if (header < 0) {
        AError = QStringLiteral("見出し行（項目・検査値・単位）がありません");
        return false;
    }
    // Which value of a test named twice is the right one cannot be told: neither is taken.
    QHash<QString, int> seen;
    QList<TLabTableRow> rows;
    for (qsizetype i = header + 1; i < lines.size(); ++i) {
        const QString& line = lines.at(i);
        if (TextRules::Trim(line).isEmpty())
            continue;
        const QStringList fields = line.split(u'\t');
        if (fields.size() != 3) {
            ATable.Notes << LineRef(i) + QStringLiteral("：列が3つではありません（") +
                                QString::number(fields.size()) +
                                QStringLiteral("列）。この行は読み飛ばしました");
            continue;
        }
        TLabTableRow row{TextRules::Trim(fields[0]), TextRules::Trim(fields[1]),
                         TextRules::Trim(fields[2])};
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

QDate DateOf(const QString& AText) {
    static const QRegularExpression separated(QStringLiteral(
        "^([0-9]{4})\\s*[-/.年]\\s*([0-9]{1,2})\\s*[-/.月]\\s*([0-9]{1,2})\\s*日?$"));
    static const QRegularExpression compact(QStringLiteral("^([0-9]{4})([0-9]{2})([0-9]{2})$"));
    const QString text = TextRules::Trim(AsciiDigits(AText));
    QRegularExpressionMatch m = separated.match(text);
    if (!m.hasMatch())
        m = compact.match(text);
    if (!m.hasMatch())
        return {};
    return QDate(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
}

QDate StampDateOf(const QString& AFileName) {
    static const QRegularExpression stamp(QStringLiteral("_([0-9]{8})_[0-9]{6}"));
    const QRegularExpressionMatch m = stamp.match(AFileName);
    return m.hasMatch() ? DateOf(m.captured(1)) : QDate();
}

} // namespace LabTableFile

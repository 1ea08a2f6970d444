#include "files/uLabTable.h"

#include "common/uTextRules.h"

namespace LabTable {

bool IsPresent(const TLabValue& AValue) {
    return !TextRules::Trim(AValue.Value).isEmpty();
}

QList<TLabValue> PresentValues(const QList<TLabValue>& AValues) {
    QList<TLabValue> result;
    for (const TLabValue& v : AValues) {
        if (IsPresent(v))
            result.append(v);
    }
    return result;
}

QString OneLineField(const QString& AText) {
    QString field = AText;
    for (QChar& c : field) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = u' ';
    }
    return field;
}

} // namespace LabTable

QString BuildLabTsv(const QList<TLabValue>& AValues, const QString& AExamDate,
                    const QString& AInstitution) {
    const QString tab(QChar(u'\t'));
    const QString eol = QStringLiteral("\r\n");
    using LabTable::OneLineField;
    QString text = QStringLiteral("検査実施日") + tab + OneLineField(TextRules::Trim(AExamDate)) +
                   eol + QStringLiteral("検査医療機関") + tab +
                   OneLineField(TextRules::Trim(AInstitution)) + eol + eol +
                   QStringLiteral("項目") + tab + QStringLiteral("検査値") + tab +
                   QStringLiteral("単位") + eol;
    int rows = 0;
    for (const TLabValue& v : AValues) {
        if (!LabTable::IsPresent(v))
            continue;
        // Fields go in as received but for control characters: a tab or line break inside
        // one would shift the columns or add rows where the table is pasted.
        text +=
            OneLineField(v.Name) + tab + OneLineField(v.Value) + tab + OneLineField(v.Units) + eol;
        ++rows;
    }
    // A header without rows would paste as a table that looks empty by mistake.
    return rows > 0 ? text : QString();
}

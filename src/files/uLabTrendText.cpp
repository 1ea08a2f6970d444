#include "files/uLabTrendText.h"

#include "files/uLabTable.h"

#include <QRegularExpression>

namespace LabTrendText {

QList<QStringList> Lines(const TLabTrend& ATrend) {
    QList<QStringList> lines;
    if (ATrend.Reports.isEmpty())
        return lines;
    QStringList dates{QStringLiteral("検査実施日"), QString()};
    QStringList institutions{QStringLiteral("検査医療機関"), QString()};
    QStringList header{QStringLiteral("項目"), QStringLiteral("単位")};
    for (const TLabReport& report : ATrend.Reports) {
        dates << LabTrend::DateText(report);
        institutions << report.Institution;
        header << LabTrend::DateText(report);
    }
    lines << dates << institutions << QStringList() << header;
    for (const TLabTest& test : ATrend.Tests) {
        QStringList line{test.Name, test.Units};
        for (qsizetype c = 0; c < ATrend.Reports.size(); ++c)
            line << test.CellText(c);
        lines << line;
    }
    return lines;
}

QString Tsv(const TLabTrend& ATrend) {
    QString text;
    for (const QStringList& line : Lines(ATrend)) {
        QStringList fields;
        for (const QString& field : line)
            fields << LabTable::OneLineField(field);
        text += fields.join(u'\t') + QStringLiteral("\r\n");
    }
    return text;
}

namespace {

QString CsvField(const QString& AField) {
    static const QRegularExpression number(QStringLiteral("^[+-]?[0-9.,]+$"));
    QString field = LabTable::OneLineField(AField);
    // "=…", "@…" and a sign before anything but a number would run as a formula.
    if (!field.isEmpty() &&
        (field.front() == u'=' || field.front() == u'@' ||
         ((field.front() == u'+' || field.front() == u'-') && !number.match(field).hasMatch())))
        field.prepend(u'\'');
    if (field.contains(u',') || field.contains(u'"') || field.startsWith(u' ') ||
        field.endsWith(u' ')) {
        field.replace(QStringLiteral("\""), QStringLiteral("\"\""));
        field = u'"' + field + u'"';
    }
    return field;
}

} // namespace

QByteArray Csv(const TLabTrend& ATrend) {
    QString text;
    for (const QStringList& line : Lines(ATrend)) {
        QStringList fields;
        for (const QString& field : line)
            fields << CsvField(field);
        text += fields.join(u',') + QStringLiteral("\r\n");
    }
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

} // namespace LabTrendText

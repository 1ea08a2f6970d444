#include "files/uLabTrend.h"

#include "common/uTextRules.h"

#include <QHash>
#include <QRegularExpression>

#include <algorithm>

bool TLabTest::Plottable() const {
    return !UnitsVary && std::any_of(Cells.begin(), Cells.end(), [](const TLabCell& ACell) {
        return ACell.Present && ACell.Reading.IsNumber;
    });
}

QString TLabTest::CellText(qsizetype AReport) const {
    const TLabCell& cell = Cells.at(AReport);
    if (!cell.Present)
        return {};
    if (UnitsVary && !cell.Units.isEmpty())
        return cell.Reading.Text + u' ' + cell.Units;
    return cell.Reading.Text;
}

qsizetype TLabTest::LatestReport() const {
    for (qsizetype i = Cells.size() - 1; i >= 0; --i) {
        if (Cells.at(i).Present)
            return i;
    }
    return -1;
}

namespace LabTrend {

namespace {

// Full-width digits, point, comma and signs as ASCII.
QString AsciiNumberText(const QString& AText) {
    QString text = AText;
    for (QChar& c : text) {
        const char16_t u = c.unicode();
        if (u >= u'０' && u <= u'９')
            c = QChar(u'0' + (u - u'０'));
        else if (u == u'．')
            c = u'.';
        else if (u == u'，')
            c = u',';
        else if (u == u'－' || u == u'−')
            c = u'-';
        else if (u == u'＋')
            c = u'+';
    }
    return text;
}

bool ReadNumber(const QString& AText, double& ANumber) {
    static const QRegularExpression plain(
        QStringLiteral("^[+-]?(?:[0-9]+(?:\\.[0-9]*)?|\\.[0-9]+)$"));
    static const QRegularExpression grouped(
        QStringLiteral("^[+-]?[0-9]{1,3}(?:,[0-9]{3})+(?:\\.[0-9]+)?$"));
    QString text = AsciiNumberText(AText);
    if (!plain.match(text).hasMatch()) {
        if (!grouped.match(text).hasMatch())
            return false;
        text.remove(u',');
    }
    bool ok = false;
    ANumber = text.toDouble(&ok);
    return ok;
}

QString MarkOf(QChar AChar) {
    switch (AChar.unicode()) {
    case u'H':
    case u'Ｈ':
        return QStringLiteral("H");
    case u'L':
    case u'Ｌ':
        return QStringLiteral("L");
    case u'*':
    case u'＊':
        return QStringLiteral("*");
    default:
        return {};
    }
}

bool IsBlank(QChar AChar) {
    return AChar.unicode() <= 0x20 || AChar.unicode() == 0x3000;
}

QString TrimBlanks(const QString& AText) {
    qsizetype from = 0, to = AText.size();
    while (from < to && IsBlank(AText.at(from)))
        ++from;
    while (to > from && IsBlank(AText.at(to - 1)))
        --to;
    return AText.sliced(from, to - from);
}

} // namespace

TLabReading Read(const QString& AValue) {
    TLabReading reading;
    reading.Text = TrimBlanks(AValue);
    const QString& text = reading.Text;
    QString number = text;
    if (text.size() >= 2) {
        const QString mark = MarkOf(text.back());
        const QString rest = TrimBlanks(text.first(text.size() - 1));
        double value = 0;
        // A letter glued to a word is part of it ("mmol/L"): only a mark after a number,
        // or after a blank, counts.
        if (!mark.isEmpty() && !rest.isEmpty() &&
            (ReadNumber(rest, value) || IsBlank(text.at(text.size() - 2)))) {
            reading.Mark = mark;
            number = rest;
        }
    }
    reading.IsNumber = ReadNumber(number, reading.Number);
    return reading;
}

QString DateText(const TLabReport& AReport) {
    return AReport.Date.isValid() ? AReport.Date.toString(QStringLiteral("yyyy/MM/dd"))
                                  : QStringLiteral("日付不明");
}

TLabTrend Build(const QString& APatientId, QList<TLabTableSource> ATables,
                const QStringList& AItemOrder) {
    TLabTrend trend;
    trend.PatientId = APatientId;
    struct TDated {
        TLabReport Report;
        const TLabTableSource* Source;
    };
    std::vector<TDated> dated;
    dated.reserve(std::size_t(ATables.size()));
    for (const TLabTableSource& source : ATables) {
        TLabReport report;
        report.Path = source.Path;
        report.FileName = source.FileName;
        report.ExamDate = source.Table.ExamDate;
        report.Institution = source.Table.Institution;
        report.Date = LabTableFile::DateOf(source.Table.ExamDate);
        if (!report.Date.isValid()) {
            report.Date = LabTableFile::StampDateOf(source.FileName);
            report.DateFromName = true;
        }
        dated.push_back({std::move(report), &source});
    }
    // A report without any date goes first, where it cannot pass for the latest.
    std::stable_sort(dated.begin(), dated.end(), [](const TDated& A, const TDated& B) {
        if (A.Report.Date != B.Report.Date)
            return A.Report.Date < B.Report.Date;
        if (A.Report.FileName != B.Report.FileName)
            return A.Report.FileName < B.Report.FileName;
        return A.Report.Path < B.Report.Path;
    });

    const qsizetype columns = qsizetype(dated.size());
    QHash<QString, qsizetype> rowOf;
    for (qsizetype c = 0; c < columns; ++c) {
        trend.Reports.append(dated[std::size_t(c)].Report);
        for (const TLabTableRow& row : dated[std::size_t(c)].Source->Table.Rows) {
            auto it = rowOf.find(row.Name);
            if (it == rowOf.end()) {
                it = rowOf.insert(row.Name, trend.Tests.size());
                TLabTest test;
                test.Name = row.Name;
                test.Units = row.Units;
                test.Cells.resize(columns);
                trend.Tests.append(std::move(test));
            }
            TLabTest& test = trend.Tests[*it];
            TLabCell& cell = test.Cells[c];
            cell.Present = true;
            cell.Units = row.Units;
            cell.Reading = Read(row.Value);
            if (!test.UnitsVary && row.Units != test.Units)
                test.UnitsVary = true;
        }
    }
    for (TLabTest& test : trend.Tests) {
        if (test.UnitsVary)
            test.Units.clear();
    }

    QHash<QString, qsizetype> itemRank;
    for (qsizetype i = 0; i < AItemOrder.size(); ++i)
        itemRank.insert(TextRules::AsciiLower(TextRules::Trim(AItemOrder[i])), i);
    struct TKey {
        qsizetype Rank;
        QString Folded;
        QString Name;
    };
    std::vector<std::pair<TKey, qsizetype>> keys;
    for (qsizetype i = 0; i < trend.Tests.size(); ++i) {
        const QString folded = TextRules::AsciiLower(trend.Tests[i].Name);
        keys.push_back(
            {{itemRank.value(folded, AItemOrder.size()), folded, trend.Tests[i].Name}, i});
    }
    std::sort(keys.begin(), keys.end(), [](const auto& A, const auto& B) {
        if (A.first.Rank != B.first.Rank)
            return A.first.Rank < B.first.Rank;
        if (A.first.Folded != B.first.Folded)
            return A.first.Folded < B.first.Folded;
        return A.first.Name < B.first.Name;
    });
    QList<TLabTest> ordered;
    ordered.reserve(trend.Tests.size());
    for (const auto& key : keys)
        ordered.append(std::move(trend.Tests[key.second]));
    trend.Tests = std::move(ordered);
    return trend;
}

} // namespace LabTrend

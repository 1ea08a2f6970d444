#include "files/uLabTrend.h"

#include "common/uTextRules.h"

#include <QHash>

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

bool IsAsciiDigit(QChar AChar) {
    return AChar.unicode() >= u'0' && AChar.unicode() <= u'9';
}

// A decimal number: an optional sign, digits (grouped by three with "," or not), an
// optional fraction; ".5" too. Anything else ("<0.1", "1.2.3", "1,23") is not a number.
// Written out rather than matched with a pattern: it runs for every value of every report.
bool ReadNumber(const QString& AText, double& ANumber) {
    const QString text = AsciiNumberText(AText);
    qsizetype i = 0;
    const qsizetype n = text.size();
    if (i < n && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    const qsizetype intStart = i;
    while (i < n && IsAsciiDigit(text[i]))
        ++i;
    qsizetype intDigits = i - intStart;
    bool grouped = false;
    if (i < n && text[i] == u',' && intDigits >= 1 && intDigits <= 3) {
        while (i + 3 < n && text[i] == u',' && IsAsciiDigit(text[i + 1]) &&
               IsAsciiDigit(text[i + 2]) && IsAsciiDigit(text[i + 3]) &&
               (i + 4 == n || !IsAsciiDigit(text[i + 4]))) {
            i += 4;
            grouped = true;
        }
        if (!grouped)
            return false;
        intDigits = i - intStart;
    }
    qsizetype fractionDigits = 0;
    if (i < n && text[i] == u'.') {
        ++i;
        while (i < n && IsAsciiDigit(text[i])) {
            ++i;
            ++fractionDigits;
        }
        // "12." is a number as written by hand; "." alone is not, nor "1,234." .
        if (intDigits == 0 && fractionDigits == 0)
            return false;
        if (grouped && fractionDigits == 0)
            return false;
    }
    if (i != n || intDigits + fractionDigits == 0)
        return false;
    bool ok = false;
    ANumber = (grouped ? QString(text).remove(u',') : text).toDouble(&ok);
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

void ReadAll(TLabTableSource& ASource) {
    ASource.Readings.clear();
    ASource.Readings.reserve(ASource.Table.Rows.size());
    for (const TLabTableRow& row : ASource.Table.Rows)
        ASource.Readings.append(Read(row.Value));
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
        const TLabTableSource& source = *dated[std::size_t(c)].Source;
        const bool haveReadings = source.Readings.size() == source.Table.Rows.size();
        for (qsizetype r = 0; r < source.Table.Rows.size(); ++r) {
            const TLabTableRow& row = source.Table.Rows.at(r);
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
            cell.Reading = haveReadings ? source.Readings.at(r) : Read(row.Value);
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

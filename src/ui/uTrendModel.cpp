#include "ui/uTrendModel.h"

#include <QBrush>
#include <QColor>

TLabTrendModel::TLabTrendModel(QObject* AParent) : QAbstractTableModel(AParent) {}

void TLabTrendModel::SetTrend(TLabTrend ATrend) {
    beginResetModel();
    FTrend = std::move(ATrend);
    endResetModel();
}

int TLabTrendModel::rowCount(const QModelIndex& AParent) const {
    return AParent.isValid() ? 0 : int(FTrend.Tests.size());
}

int TLabTrendModel::columnCount(const QModelIndex& AParent) const {
    return AParent.isValid() ? 0 : colFirstReport + int(FTrend.Reports.size());
}

Qt::ItemFlags TLabTrendModel::flags(const QModelIndex& AIndex) const {
    if (!AIndex.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

QString TLabTrendModel::MarkWords(const QString& AMark) {
    if (AMark == u"H")
        return QStringLiteral("高値 (H)");
    if (AMark == u"L")
        return QStringLiteral("低値 (L)");
    if (AMark == u"*")
        return QStringLiteral("要注意 (*)");
    return {};
}

QVariant TLabTrendModel::data(const QModelIndex& AIndex, int ARole) const {
    if (!AIndex.isValid() || AIndex.row() >= FTrend.Tests.size())
        return {};
    const TLabTest& test = FTrend.Tests.at(AIndex.row());
    const int column = AIndex.column();
    if (column == colName)
        return ARole == Qt::DisplayRole ? QVariant(test.Name) : QVariant();
    if (column == colUnits) {
        if (ARole == Qt::DisplayRole)
            return test.UnitsVary ? QStringLiteral("（報告ごとに異なる）") : test.Units;
        if (ARole == Qt::ToolTipRole && test.UnitsVary)
            return QStringLiteral("単位が報告によって異なるため、値ごとに単位を表示し、"
                                  "グラフでは一本の線にしません。");
        return {};
    }
    const qsizetype report = column - colFirstReport;
    if (report < 0 || report >= FTrend.Reports.size())
        return {};
    const TLabCell& cell = test.Cells.at(report);
    if (!cell.Present)
        return {};
    const QString& mark = cell.Reading.Mark;
    switch (ARole) {
    case Qt::DisplayRole:
        return test.CellText(report);
    case Qt::TextAlignmentRole:
        return int(Qt::AlignRight | Qt::AlignVCenter);
    case Qt::ForegroundRole:
        if (mark == u"H")
            return QBrush(QColor(176, 0, 0));
        if (mark == u"L")
            return QBrush(QColor(0, 64, 176));
        if (mark == u"*")
            return QBrush(QColor(160, 82, 0));
        return {};
    case Qt::BackgroundRole:
        if (mark == u"H")
            return QBrush(QColor(255, 228, 228));
        if (mark == u"L")
            return QBrush(QColor(226, 236, 255));
        if (mark == u"*")
            return QBrush(QColor(255, 240, 214));
        return {};
    case Qt::ToolTipRole: {
        QString tip = test.Name + QStringLiteral("  ") +
                      LabTrend::DateText(FTrend.Reports.at(report)) + QStringLiteral("  ") +
                      test.CellText(report);
        if (!mark.isEmpty())
            tip += QStringLiteral("\n") + MarkWords(mark);
        if (!cell.Reading.IsNumber)
            tip += QStringLiteral("\n数値ではないため、グラフには表示しません");
        return tip;
    }
    default:
        return {};
    }
}

QVariant TLabTrendModel::headerData(int ASection, Qt::Orientation AOrientation, int ARole) const {
    if (AOrientation != Qt::Horizontal)
        return {};
    if (ASection == colName)
        return ARole == Qt::DisplayRole ? QVariant(QStringLiteral("項目")) : QVariant();
    if (ASection == colUnits)
        return ARole == Qt::DisplayRole ? QVariant(QStringLiteral("単位")) : QVariant();
    const qsizetype report = ASection - colFirstReport;
    if (report < 0 || report >= FTrend.Reports.size())
        return {};
    const TLabReport& r = FTrend.Reports.at(report);
    if (ARole == Qt::DisplayRole)
        return LabTrend::DateText(r) + (r.DateFromName ? QStringLiteral(" ※") : QString());
    if (ARole == Qt::ToolTipRole) {
        QString tip = QStringLiteral("検査医療機関: ") +
                      (r.Institution.isEmpty() ? QStringLiteral("（記載なし）") : r.Institution);
        if (r.DateFromName)
            tip += QStringLiteral("\n※ 検査実施日がないため、ファイル名の日付です");
        tip += QStringLiteral("\n") + r.FileName;
        return tip;
    }
    return {};
}

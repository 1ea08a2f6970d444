#pragma once
#include "files/uLabTrend.h"

#include <QAbstractTableModel>

// The trend as a table: 項目, 単位, then one column per report, oldest first. Cells are
// made when drawn, so a thousand reports cost nothing until they are scrolled to. A value
// with its own mark keeps its letter and is coloured (H red, L blue, * orange); the
// tooltip says the mark in words.
class TLabTrendModel : public QAbstractTableModel {
public:
    enum { colName, colUnits, colFirstReport };

    explicit TLabTrendModel(QObject* AParent = nullptr);

    void SetTrend(TLabTrend ATrend);
    const TLabTrend& Trend() const { return FTrend; }

    int rowCount(const QModelIndex& AParent = {}) const override;
    int columnCount(const QModelIndex& AParent = {}) const override;
    Qt::ItemFlags flags(const QModelIndex& AIndex) const override;
    QVariant data(const QModelIndex& AIndex, int ARole) const override;
    QVariant headerData(int ASection, Qt::Orientation AOrientation, int ARole) const override;

    // The words for a mark: "高値 (H)", "低値 (L)", "要注意 (*)".
    static QString MarkWords(const QString& AMark);

private:
    TLabTrend FTrend;
};

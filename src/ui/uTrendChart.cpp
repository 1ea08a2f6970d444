#include "ui/uTrendChart.h"

#include "ui/uTrendModel.h"

#include <QChart>
#include <QChartView>
#include <QCursor>
#include <QDateTimeAxis>
#include <QLabel>
#include <QLineSeries>
#include <QToolTip>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// The value as written, its unit and its mark in words.
QString ValueWords(const TLabTest& ATest, qsizetype AReport) {
    const TLabCell& cell = ATest.Cells.at(AReport);
    QString text = cell.Reading.Text;
    if (!cell.Units.isEmpty())
        text += u' ' + cell.Units;
    if (!cell.Reading.Mark.isEmpty())
        text += QStringLiteral("（") + TLabTrendModel::MarkWords(cell.Reading.Mark) +
                QStringLiteral("）");
    return text;
}

qreal XOf(const TLabReport& AReport) {
    return qreal(QDateTime(AReport.Date, QTime(12, 0)).toMSecsSinceEpoch());
}

} // namespace

TLabTrendChart::TLabTrendChart(QWidget* AParent) : QWidget(AParent) {
    lblLatest = new QLabel(this);
    lblLatest->setTextFormat(Qt::PlainText);
    lblLatest->setWordWrap(true);
    lblLatest->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    FChart = new QChart;
    FChart->legend()->setAlignment(Qt::AlignBottom);
    FChart->setMargins(QMargins(4, 4, 4, 4));
    FView = new QChartView(FChart, this); // the view owns the chart
    FView->setRenderHint(QPainter::Antialiasing);
    FView->setAccessibleName(QStringLiteral("検査値のグラフ"));
    FView->setMinimumHeight(160);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(lblLatest);
    layout->addWidget(FView, 1);
    Plot({}, {});
}

void TLabTrendChart::Plot(const TLabTrend& ATrend, const QList<int>& ARows) {
    FChart->removeAllSeries();
    for (QAbstractAxis* axis : FChart->axes()) {
        FChart->removeAxis(axis);
        delete axis; // removeAxis hands the axis back
    }
    FHoverTexts.clear();

    QStringList latest;
    QStringList notes;
    QString unit;
    bool unitChosen = false;
    qreal minX = std::numeric_limits<qreal>::max(), maxX = std::numeric_limits<qreal>::lowest();
    qreal minY = minX, maxY = maxX;
    QList<QLineSeries*> drawn;
    for (const int row : ARows) {
        if (row < 0 || row >= ATrend.Tests.size())
            continue;
        const TLabTest& test = ATrend.Tests.at(row);
        const qsizetype last = test.LatestReport();
        if (last >= 0)
            latest << QStringLiteral("最新 ") + test.Name + QStringLiteral(": ") +
                          ValueWords(test, last) + QStringLiteral("（") +
                          LabTrend::DateText(ATrend.Reports.at(last)) + QStringLiteral("）");
        if (test.UnitsVary) {
            notes << test.Name +
                         QStringLiteral(" は報告によって単位が異なるため、グラフにしません");
            continue;
        }
        if (!test.Plottable()) {
            notes << test.Name + QStringLiteral(" には数値の結果がないため、グラフにしません");
            continue;
        }
        if (!unitChosen) {
            unit = test.Units;
            unitChosen = true;
        } else if (test.Units != unit) {
            notes << test.Name + QStringLiteral(" は単位が違うため、一緒には表示しません");
            continue;
        }
        auto* series = new QLineSeries;
        series->setName(test.Units.isEmpty()
                            ? test.Name
                            : test.Name + QStringLiteral(" (") + test.Units + QStringLiteral(")"));
        series->setPointsVisible(true);
        QList<TPointText> texts;
        for (qsizetype c = 0; c < test.Cells.size(); ++c) {
            const TLabCell& cell = test.Cells.at(c);
            if (!cell.Present || !cell.Reading.IsNumber || !ATrend.Reports.at(c).Date.isValid())
                continue;
            const qreal x = XOf(ATrend.Reports.at(c));
            const qreal y = cell.Reading.Number;
            series->append(x, y);
            texts.append({x, test.Name + QStringLiteral("  ") +
                                 LabTrend::DateText(ATrend.Reports.at(c)) + QStringLiteral("  ") +
                                 ValueWords(test, c)});
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
            minY = std::min(minY, y);
            maxY = std::max(maxY, y);
        }
        if (series->count() == 0) {
            delete series;
            continue;
        }
        FChart->addSeries(series); // the chart owns it from here
        FHoverTexts.append({series, texts});
        connect(series, &QLineSeries::hovered, this,
                [this, series](const QPointF& APoint, bool AState) {
                    ShowPoint(series, APoint, AState);
                });
        drawn << series;
    }

    if (!drawn.isEmpty()) {
        auto* axisX = new QDateTimeAxis;
        axisX->setFormat(QStringLiteral("yyyy/MM/dd"));
        const qreal day = 86400000.0;
        // A little room either side, so the first and last points are not on the frame.
        const qreal padX = std::max(3 * day, (maxX - minX) * 0.04);
        axisX->setRange(QDateTime::fromMSecsSinceEpoch(qint64(minX - padX)),
                        QDateTime::fromMSecsSinceEpoch(qint64(maxX + padX)));
        axisX->setTickCount(std::clamp(int((maxX - minX) / (30 * day)) + 2, 2, 6));
        auto* axisY = new QValueAxis;
        const qreal padY = maxY > minY ? (maxY - minY) * 0.1 : std::max(1.0, std::abs(maxY) * 0.1);
        axisY->setRange(minY - padY, maxY + padY);
        axisY->applyNiceNumbers();
        axisY->setTitleText(unit);
        FChart->addAxis(axisX, Qt::AlignBottom);
        FChart->addAxis(axisY, Qt::AlignLeft);
        for (QLineSeries* series : drawn) {
            series->attachAxis(axisX);
            series->attachAxis(axisY);
        }
    }
    FChart->legend()->setVisible(drawn.size() > 1);

    QString text;
    if (ARows.isEmpty())
        text = QStringLiteral("表の項目を選ぶと、その推移をグラフに表示します（Ctrl+クリック・"
                              "Shift+↑↓で同じ単位の項目を重ねて表示）。");
    else
        text = (latest + notes).join(u'\n');
    lblLatest->setText(text);
}

QStringList TLabTrendChart::PlottedTests() const {
    QStringList names;
    for (const auto& entry : FHoverTexts)
        names << entry.first->name();
    return names;
}

QImage TLabTrendChart::Picture() const {
    return FView->grab().toImage();
}

void TLabTrendChart::ShowPoint(const QLineSeries* ASeries, const QPointF& APoint, bool AState) {
    if (!AState) {
        QToolTip::hideText();
        return;
    }
    for (const auto& entry : FHoverTexts) {
        if (entry.first != ASeries || entry.second.isEmpty())
            continue;
        // The nearest point in time to where the pointer is on the line.
        const auto nearest =
            std::min_element(entry.second.begin(), entry.second.end(),
                             [&APoint](const TPointText& A, const TPointText& B) {
                                 return std::abs(A.X - APoint.x()) < std::abs(B.X - APoint.x());
                             });
        QToolTip::showText(QCursor::pos(), nearest->Text, FView);
        return;
    }
}

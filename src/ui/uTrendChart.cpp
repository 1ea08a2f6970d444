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

// Noon UTC of the report's day, in milliseconds since 1970: the same day on the date axis
// wherever the clinic is, and no time-zone look-up per point.
qreal XOf(const TLabReport& AReport) {
    constexpr qint64 julianDayOf1970 = 2440588;
    constexpr qint64 day = 86400000;
    return qreal((AReport.Date.toJulianDay() - julianDayOf1970) * day + day / 2);
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
    // One pair of axes for the chart's life: axes removed and added again leave their
    // labels drawn until the next layout.
    FAxisX = new QDateTimeAxis;
    FAxisX->setFormat(QStringLiteral("yyyy/MM/dd"));
    FAxisY = new QValueAxis;
    FChart->addAxis(FAxisX, Qt::AlignBottom); // the chart owns the axes and the series
    FChart->addAxis(FAxisY, Qt::AlignLeft);
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
    FDrawn.clear();

    QStringList latest;
    QStringList notes;
    QString unit;
    bool unitChosen = false;
    qreal minX = std::numeric_limits<qreal>::max(), maxX = std::numeric_limits<qreal>::lowest();
    qreal minY = minX, maxY = maxX;
    struct TLine {
        TLabTest Test;
        QList<QPointF> Points;
        QList<qsizetype> PointReports;
    };
    QList<TLine> lines;
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
        QList<qsizetype> pointReports;
        QList<QPointF> points;
        for (qsizetype c = 0; c < test.Cells.size(); ++c) {
            const TLabCell& cell = test.Cells.at(c);
            if (!cell.Present || !cell.Reading.IsNumber || !ATrend.Reports.at(c).Date.isValid())
                continue;
            const qreal x = XOf(ATrend.Reports.at(c));
            const qreal y = cell.Reading.Number;
            points.append({x, y});
            pointReports.append(c);
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
            minY = std::min(minY, y);
            maxY = std::max(maxY, y);
        }
        if (!points.isEmpty())
            lines.append({test, std::move(points), std::move(pointReports)});
    }

    if (!lines.isEmpty()) {
        // The axes first, then each series with all its points at once: every change of a
        // drawn series recomputes it.
        QDateTimeAxis* axisX = FAxisX;
        const qreal day = 86400000.0;
        // A little room either side, so the first and last points are not on the frame.
        const qreal padX = std::max(3 * day, (maxX - minX) * 0.04);
        axisX->setRange(QDateTime::fromMSecsSinceEpoch(qint64(minX - padX)),
                        QDateTime::fromMSecsSinceEpoch(qint64(maxX + padX)));
        axisX->setTickCount(std::clamp(int((maxX - minX) / (30 * day)) + 2, 2, 6));
        QValueAxis* axisY = FAxisY;
        const qreal padY = maxY > minY ? (maxY - minY) * 0.1 : std::max(1.0, std::abs(maxY) * 0.1);
        axisY->setRange(minY - padY, maxY + padY);
        axisY->applyNiceNumbers();
        axisY->setTitleText(unit);
        for (TLine& line : lines) {
            auto* series = new QLineSeries;
            series->setName(line.Test.Units.isEmpty() ? line.Test.Name
                                                      : line.Test.Name + QStringLiteral(" (") +
                                                            line.Test.Units + QStringLiteral(")"));
            series->setPointsVisible(true);
            FChart->addSeries(series);
            series->attachAxis(axisX);
            series->attachAxis(axisY);
            series->replace(line.Points);
            connect(series, &QLineSeries::hovered, this,
                    [this, series](const QPointF& APoint, bool AState) {
                        ShowPoint(series, APoint, AState);
                    });
            FDrawn.append(
                {series, std::move(line.Test), ATrend.Reports, std::move(line.PointReports)});
        }
    }
    FAxisX->setVisible(!FDrawn.isEmpty());
    FAxisY->setVisible(!FDrawn.isEmpty());
    FChart->legend()->setVisible(FDrawn.size() > 1);

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
    for (const TDrawn& drawn : FDrawn)
        names << drawn.Series->name();
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
    for (const TDrawn& drawn : FDrawn) {
        if (drawn.Series != ASeries || drawn.PointReports.isEmpty())
            continue;
        // The point nearest to the pointer: in time, then in value (two reports of a day).
        const QList<QPointF> points = ASeries->points();
        qsizetype best = 0;
        for (qsizetype i = 1; i < points.size(); ++i) {
            const qreal dx = std::abs(points[i].x() - APoint.x());
            const qreal bestDx = std::abs(points[best].x() - APoint.x());
            if (dx < bestDx || (dx == bestDx && std::abs(points[i].y() - APoint.y()) <
                                                    std::abs(points[best].y() - APoint.y())))
                best = i;
        }
        const qsizetype report = drawn.PointReports.at(best);
        QToolTip::showText(QCursor::pos(),
                           drawn.Test.Name + QStringLiteral("  ") +
                               LabTrend::DateText(drawn.Reports.at(report)) + QStringLiteral("  ") +
                               ValueWords(drawn.Test, report),
                           FView);
        return;
    }
}

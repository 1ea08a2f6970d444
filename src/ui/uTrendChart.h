#pragma once
#include "files/uLabTrend.h"

#include <QList>
#include <QString>
#include <QWidget>

class QChart;
class QChartView;
class QDateTimeAxis;
class QValueAxis;
class QLabel;
class QLineSeries;

// The chart of the trend window: the chosen tests over time on a date axis, points joined
// by a line, the value of a point on hover, and the latest value of each stated above.
// Only tests that share one unit are drawn together; the rest are named in the note.
class TLabTrendChart : public QWidget {
    Q_OBJECT
public:
    explicit TLabTrendChart(QWidget* AParent = nullptr);

    // Draws the tests ARows of ATrend (the first one sets the unit); an empty list clears.
    void Plot(const TLabTrend& ATrend, const QList<int>& ARows);
    // The drawn tests' names, in drawing order.
    QStringList PlottedTests() const;
    // The chart alone as a picture, at the screen's pixel ratio.
    QImage Picture() const;

    QLabel* lblLatest = nullptr;
    QChartView* FView = nullptr;
    QChart* FChart = nullptr;

private:
    QDateTimeAxis* FAxisX = nullptr; // owned by the chart
    QValueAxis* FAxisY = nullptr;

    void ShowPoint(const QLineSeries* ASeries, const QPointF& APoint, bool AState);

    // A drawn series and what its points say on hover, made only when hovered: the test
    // and the reports (shared copies, cheap), and the report of each point.
    struct TDrawn {
        const QLineSeries* Series;
        TLabTest Test;
        QList<TLabReport> Reports;
        QList<qsizetype> PointReports;
    };
    QList<TDrawn> FDrawn;
};

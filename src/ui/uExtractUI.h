#pragma once
#include "service/uApiClient.h"
#include "ui/uTrendUI.h"

#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>

class QLabel;
class QPushButton;
class QResizeEvent;
class QScrollArea;
class QTreeWidget;

// The lab results window: the present values as a read-only table, the exam date and
// institution above it, the account's items that were not found below it, and a button that
// copies the lab table text. Its data is copied in at creation and never changes.
class TLabResultsForm : public QDialog {
    Q_OBJECT
public:
    // ANotFound: the account's items without a value; AItemsError: why they could not be
    // read (then ANotFound is empty). Neither goes into the copied table. ATrend: the
    // patient and folder the table was saved under, for 検査値の推移 (unavailable without a
    // patient number).
    TLabResultsForm(QWidget* AOwner, const QList<TLabValue>& AResults, const QString& AExamDate,
                    const QString& AInstitution, const QStringList& ANotFound = {},
                    const QString& AItemsError = {}, const TLabTrendRequest& ATrend = {});

    const QList<TLabValue>& Data() const { return FData; }
    const QString& ExamDate() const { return FExamDate; }
    const QString& Institution() const { return FInstitution; }
    const QStringList& NotFound() const { return FNotFound; }
    const TLabTrendRequest& TrendRequest() const { return FTrend; }

    QLabel* lblExamDate = nullptr;
    QLabel* lblInstitution = nullptr;
    QTreeWidget* FLV = nullptr;
    // Hidden when every item was found.
    QScrollArea* pnlNotFound = nullptr;
    QLabel* lblNotFound = nullptr;
    QPushButton* btnCopy = nullptr;
    QPushButton* btnTrend = nullptr;
    QPushButton* btnClose = nullptr;

protected:
    void resizeEvent(QResizeEvent* AEvent) override;

private:
    void CopyClick();
    void LayoutDocked();

    QList<TLabValue> FData;
    QString FExamDate;
    QString FInstitution;
    QStringList FNotFound;
    TLabTrendRequest FTrend;

    QWidget* pnlTop = nullptr;
    QWidget* pnlBottom = nullptr;
    int FTopHeight = 0;
    int FBottomHeight = 0;
    int FCloseRightGap = 0;
    int FRowHeight = 0;
};

// Tells the user that nothing was found, or shows the results window modally and
// destroys it when it closes.
void ShowLabResults(QWidget* AOwner, const QList<TLabValue>& AValues, const QString& AExamDate,
                    const QString& AInstitution, const QStringList& ANotFound = {},
                    const QString& AItemsError = {}, const TLabTrendRequest& ATrend = {});

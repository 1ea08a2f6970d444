#pragma once
#include "files/uLabTrend.h"

#include <QDialog>
#include <QString>
#include <QStringList>
#include <memory>

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTableView;
class QTimer;
class TLabTrendChart;
class TLabTrendLoader;
class TLabTrendModel;

// What the trend window shows: whose tables, where, and the order of the account's items.
struct TLabTrendRequest {
    QString Folder;        // the save folder
    QString PatientId;     // the patient number the tables are filed under
    QStringList ItemOrder; // the account's extraction items, when known
};

// 検査値の推移: a patient's saved lab tables side by side, one row per test and one column
// per report, oldest first; the chosen tests drawn over time; the table copied or saved,
// the chart saved as a picture. The tables are read off the window thread; the window only
// reads the save folder.
class TLabTrendForm : public QDialog {
    Q_OBJECT
public:
    TLabTrendForm(QWidget* AOwner, TLabTrendRequest ARequest);
    ~TLabTrendForm() override;

    const TLabTrendRequest& Request() const { return FRequest; }
    const TLabTrend& Trend() const;
    bool IsLoading() const;

    // Reads the tables again (off the window thread).
    void Reload();
    // Draws the given rows of the table; the first one sets the unit.
    void PlotRows(const QList<int>& ARows);

    QLabel* lblSummary = nullptr;
    QProgressBar* FProgress = nullptr;
    QLabel* lblTable = nullptr;
    QTableView* FTable = nullptr;
    TLabTrendChart* FChart = nullptr;
    QLabel* lblProblems = nullptr;
    QListWidget* FLstProblems = nullptr;
    QPushButton* btnCopy = nullptr;
    QPushButton* btnCsv = nullptr;
    QPushButton* btnImage = nullptr;
    QPushButton* btnClose = nullptr;

Q_SIGNALS:
    // The tables have been read and shown (also when none or the folder failed).
    void Loaded();

private:
    void ShowLoading();
    void LoadFinished(bool AOk, const TLabTrend& ATrend, const QString& AError);
    void SelectionChanged();
    void UpdateButtons();
    void CopyClick();
    void CsvClick();
    void ImageClick();
    // A path chosen in a save dialog, or empty.
    QString AskSavePath(const QString& AFilter, const QString& AName);

    TLabTrendRequest FRequest;
    TLabTrendModel* FModel = nullptr; // child of this
    QTimer* FProgressDelay = nullptr; // child of this
    bool FLoading = false;
    // Last, so that it goes first: the reading stops before the widgets go.
    std::unique_ptr<TLabTrendLoader> FLoader;
};

// Opens the trend window modally for ARequest.PatientId; tells the user instead when the
// folder or the patient number is missing.
void ShowLabTrend(QWidget* AOwner, const TLabTrendRequest& ARequest);

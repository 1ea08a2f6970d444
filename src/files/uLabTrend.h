#pragma once
#include "files/uLabTableFile.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

// A value as a lab table holds it, read: its mark (a trailing H, L or *, half- or
// full-width) and its number when it is one. "<0.1", "陰性" and "(+)" are not numbers.
struct TLabReading {
    QString Text; // as written, trimmed
    QString Mark; // "H", "L", "*" or empty
    bool IsNumber = false;
    double Number = 0; // when IsNumber
};

// One saved lab table of the patient: a column of the trend.
struct TLabReport {
    QString Path;
    QString FileName;
    QDate Date;                // the exam date, else the date in the file name
    bool DateFromName = false; // the table had no readable exam date
    QString ExamDate;          // as written in the table
    QString Institution;
};

// One test in one report.
struct TLabCell {
    bool Present = false;
    QString Units; // as written in that report
    TLabReading Reading;
};

// One test over the reports: a row of the trend.
struct TLabTest {
    QString Name;
    QString Units;          // the unit every report gave; empty when they differ
    bool UnitsVary = false; // the reports gave different units: each value carries its own
    QList<TLabCell> Cells;  // one per report, in the reports' order

    // Numbers under one unit, to be drawn as one line.
    bool Plottable() const;
    // The text of a cell as the window and the copies show it: as written, with its unit
    // when the test's unit varies.
    QString CellText(qsizetype AReport) const;
    // The newest report with a value for this test; -1 when none.
    qsizetype LatestReport() const;
};

// A file that could not be read, or a part of one that was passed over.
struct TLabFileProblem {
    QString FileName;
    QString Path;
    QString Reason;
    bool Skipped = true; // the whole file; false when only some lines were passed over
};

// A patient's lab values over time, read from the saved lab tables.
struct TLabTrend {
    QString PatientId;
    QList<TLabReport> Reports; // oldest first
    QList<TLabTest> Tests;     // the account's items in their order, then the rest by name
    QList<TLabFileProblem> Problems;
    qsizetype LeftOut = 0; // older tables beyond the scan's limit
};
Q_DECLARE_METATYPE(TLabTrend)

// A lab table of the patient, parsed, with where it came from.
struct TLabTableSource {
    QString Path;
    QString FileName;
    TLabTableFile Table;
    // Read(Value) of each row when already made (by the thread that parsed the file);
    // Build makes them otherwise.
    QList<TLabReading> Readings;
};

namespace LabTrend {

TLabReading Read(const QString& AValue);
// Read of every row of ASource's table, into its Readings.
void ReadAll(TLabTableSource& ASource);

// The trend of the given tables: reports ordered by date, then by file name (its stamp
// is the save time), so that two reports of one date stay two columns in the order they
// were saved; tests ordered by AItemOrder (the account's extraction items, matched with
// A to Z folded), then the rest by name.
TLabTrend Build(const QString& APatientId, QList<TLabTableSource> ATables,
                const QStringList& AItemOrder);

// "yyyy/MM/dd" of a report's date.
QString DateText(const TLabReport& AReport);

} // namespace LabTrend

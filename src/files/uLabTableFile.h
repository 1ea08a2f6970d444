#pragma once
#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

// One test line of a saved lab table, fields as written.
struct TLabTableRow {
    QString Name;
    QString Value;
    QString Units;
};

// A saved lab table read back: what could be read, and what was passed over and why.
struct TLabTableFile {
    QString ExamDate;    // as written, trimmed; empty when the line is missing
    QString Institution; // as written, trimmed
    QList<TLabTableRow> Rows;
    QStringList Notes; // lines or tests passed over, each with its reason
};

// Reading the lab table files that the program saves (BuildLabTsv's text as UTF-8): a file
// cut short, edited by hand or not one at all gives what can be trusted of it, never a
// guess. Widget-free.
namespace LabTableFile {

// No lab table comes near this; a bigger file is not read.
inline constexpr qint64 MaxBytes = 1 << 20;

// False with the reason in AError when ABytes cannot be read as a lab table at all: not
// UTF-8, no header line, no test line. Lines with the wrong number of columns and tests
// named twice are left out and noted.
bool Parse(const QByteArray& ABytes, TLabTableFile& ATable, QString& AError);

// The date of an exam date text: 2024-05-01, 2024/5/1, 2024.05.01, 2024年5月1日 or
// 20240501, full-width digits too; invalid when it is none of them.
QDate DateOf(const QString& AText);
// The yyyymmdd of a result file name (…_検査_yyyymmdd_hhnnss…); invalid when it has none.
QDate StampDateOf(const QString& AFileName);

} // namespace LabTableFile

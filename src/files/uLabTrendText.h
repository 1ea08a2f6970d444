#pragma once
#include "files/uLabTrend.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The trend as a table for a spreadsheet or an electronic chart, laid out like the lab
// table: the exam dates and institutions, an empty line, the header (項目, 単位, one column
// per report) and one line per test with the values as the window shows them. Widget-free.
namespace LabTrendText {

// The table's lines, each a list of fields.
QList<QStringList> Lines(const TLabTrend& ATrend);
// Tab-separated, CR LF after every line; a control character inside a field becomes a
// blank, as in the lab table. Empty when there is no report.
QString Tsv(const TLabTrend& ATrend);
// Comma-separated (RFC 4180 quoting), CR LF, UTF-8 with a byte-order mark so that Excel
// opens it as is. A field that Excel would take for a formula gets a leading "'".
QByteArray Csv(const TLabTrend& ATrend);

} // namespace LabTrendText

#pragma once
#include "service/uApiClient.h"

#include <QList>
#include <QString>

// The lab table text and its rules. Widget-free.
namespace LabTable {

// A value is present when its Value, trimmed, is not empty (U+3000 counts as present).
bool IsPresent(const TLabValue& AValue);
// The present values, in input order, each copied whole.
QList<TLabValue> PresentValues(const QList<TLabValue>& AValues);
// AText with every control character (tab, CR, LF and the rest of C0, DEL) made one blank.
QString OneLineField(const QString& AText);

} // namespace LabTable

// The tab-separated lab table: exam date and institution lines (trimmed), an empty line,
// the header, then Name TAB Value TAB Units of each present value, untrimmed; CR LF after
// every line. A control character inside a field becomes one blank, so that every test
// is one line of three columns. Empty when no value is present.
QString BuildLabTsv(const QList<TLabValue>& AValues, const QString& AExamDate,
                    const QString& AInstitution);

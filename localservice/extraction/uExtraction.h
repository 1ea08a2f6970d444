#pragma once
// Finding lab values, the exam date and the institution in the text of a Japanese lab report.
#include <QString>

#include <vector>

#include "extraction/uCatalog.h"
#include "reading/uDoubtfulNumbers.h"

struct TLabResult {
    QString Name; // the item's own name, whichever alias was printed
    QString Value;
    QString Unit;
    QString Reference;
    QString Flag; // "H", "L" or empty
};

struct TExtraction {
    std::vector<TLabResult> Results; // in the order of the items
    QString ExamDate;                // "yyyy-MM-dd", empty when none was found
    QString Institution;             // empty when none was found
};

// ADoubts, when given, names per line the numbers recognition was not sure of: none of them
// becomes a value.
TExtraction ExtractLabValues(const QString& AText, const std::vector<TExtractItem>& AItems,
                             const TDoubtfulNumbers* ADoubts = nullptr);

// Full-width ASCII to ASCII, ideographic blank and tab to a blank, dash and tilde variants to
// "-" and "~". Keeps the length, so positions in the result are positions in the input.
QString NormalizeReportText(const QString& AText);

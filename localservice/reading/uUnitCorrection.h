#pragma once
// Units of lab values as recognition misreads them: the slash dropped or read as a blank
// ("UL", "mg dL"). Put back as printed, so that the text staff paste into a chart reads right.
#include <QString>

// On a line with a number before it, a word (or two words a blank apart) that is a common unit
// but for its slashes becomes that unit: "UL" is "U/L", "mg dL" is "mg/dL". Everything else
// stays as it was read.
QString CorrectUnits(const QString& AText);

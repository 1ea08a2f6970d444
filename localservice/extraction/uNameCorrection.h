#pragma once
// Item names as recognition misreads them ("HbAlc", "y-GTP", "へモグロビン", "血精") put back
// as the items spell them, so that the text staff paste into a chart names each test rightly.
#include <QString>

#include <vector>

#include "extraction/uCatalog.h"

// Every name or alias of AItems or of the catalogue found in the text (see TLabelIndex::Find)
// is replaced by the spelling nearest to what was read; everything else stays as it was read.
QString CorrectItemNames(const QString& AText, const std::vector<TExtractItem>& AItems);

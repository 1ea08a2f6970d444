#pragma once
// Photographed lab reports in designs that recognition and extraction were never tuned on:
// other fonts (Mincho, bold Gothic, condensed and serif Latin, proportional digits, slashed
// and dotted zeros), ruled and borderless tables, two tests side by side, dotted leaders, a
// white-on-dark header, shaded rows, previous results beside the current ones, flags before
// and after the value, era and Western dates beside a birth date and a report date, markedly
// abnormal values, and the catalogue's tests rather than the eight defaults. Each design comes
// once as rendered and once as a phone photographs it (turned, seen at a slant, shadowed,
// blurred, noisy, JPEG 60 to 75, some held sideways or upside down). Seeded, so every run makes
// the same pictures.
#include <vector>

#include "uReportPages.h"

// Every design, as rendered then as photographed. Each page's Values are the catalogue's tests
// printed on it, by the catalogue's name, with the current value exactly as printed.
std::vector<TReportPage> MakeHeldOutPages();

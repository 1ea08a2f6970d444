#pragma once
// Several readings of one page, made from copies prepared in different ways, merged line by
// line: each line is taken from the reading the engine was surest of.
#include <string>
#include <vector>

struct TLineReading {
    std::string Text;     // without its line break
    float Confidence = 0; // 0 to 100
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
};

struct TPageReading {
    std::vector<TLineReading> Lines; // in reading order
    float Confidence = 0;            // of the page as a whole
};

// The lines of the surest page, in its order, each replaced by a surer reading of the same
// line from another page: one whose box covers nearly the same place. Lines end with "\n".
std::string MergeReadings(const std::vector<TPageReading>& AReadings);

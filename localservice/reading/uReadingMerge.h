#pragma once
// Several readings of one page, made from copies prepared in different ways, merged line by
// line: the readings of each line vote, weighted by how sure the engine was of each.
#include <string>
#include <vector>

#include "reading/uDoubtfulNumbers.h"

struct TLineReading {
    std::string Text;     // without its line break
    float Confidence = 0; // 0 to 100
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
};

struct TPageReading {
    std::vector<TLineReading> Lines; // in reading order
    float Confidence = 0;            // of the page as a whole
};

// The lines of the surest page, in its order. Each is read character by character as most of
// the readings of the same line read it (a line whose box covers nearly the same place in
// another page), counting each reading by its confidence. Runs of two blanks and more come out
// as four, single blanks as one. Lines end with "\n".
std::string MergeReadings(const std::vector<TPageReading>& AReadings);

struct TMergedReading {
    std::string Text;
    TDoubtfulNumbers DoubtfulNumbers; // one entry per line of Text
};

// MergeReadings, with the numbers that the vote did not settle unanimously.
TMergedReading MergeReadingsWithDoubts(const std::vector<TPageReading>& AReadings);

// The merged text as staff read it: no blanks between Japanese characters, circled digits read
// as the plain digits they are ("⑳②④" 2024).
std::string TidyReading(const std::string& AText);

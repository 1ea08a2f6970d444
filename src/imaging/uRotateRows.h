#pragma once

#include <cstddef>
#include <cstdint>

// Row-level pieces of the turns, for callers that produce a picture a band of rows at a
// time (the JPEG decoder turns each band as it comes, while it is still in cache).
// Pixels are 3 bytes; strides are in bytes.

enum class TPixelPath {
    Fastest,  // vector instructions when the processor has them
    Portable, // plain C++ only
};

// Writes rows [AY0, AY0 + ARowCount) of a picture AWidth x AHeight, given at ASrcRows
// (the first of those rows), turned a quarter into ADst, which is the AHeight x AWidth
// result of the whole picture.
void RotateRows90(const uint8_t* ASrcRows, std::ptrdiff_t ASrcStride, int AWidth, int AHeight,
                  int AY0, int ARowCount, uint8_t* ADst, std::ptrdiff_t ADstStride, bool AClockwise,
                  TPixelPath APath = TPixelPath::Fastest);

// ADst gets the AWidth pixels of ASrc in reverse order. The two must not overlap.
void ReverseRow(uint8_t* ADst, const uint8_t* ASrc, int AWidth,
                TPixelPath APath = TPixelPath::Fastest);

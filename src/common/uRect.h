#pragma once

// A rectangle by its edges, Right and Bottom exclusive (width = Right - Left), as the
// selection and the cut-out speak of it. Unlike QRect it may be empty or inverted, which
// is how a mapped selection says that it is unusable.
struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;

    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    friend bool operator==(const TRect&, const TRect&) = default;
};

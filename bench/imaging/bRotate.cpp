// Quarter turn of a 12-megapixel bitmap (4000 x 3000, 36 MB) against memcpy of the same
// bytes, against the plain row walk, and against square tiles with 3-byte copies.

#include "imaging/uRotate.h"
#include "imaging/uRotateRows.h"
#include "uBenchRatios.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr int KW = 4000, KH = 3000;

const TBitmap24& Source() {
    static const TBitmap24 source = [] {
        TBitmap24 b(KW, KH);
        uint32_t v = 1;
        for (int y = 0; y < KH; ++y) {
            uint8_t* row = b.Row(y);
            for (int x = 0; x < KW * 3; ++x) {
                v = v * 1664525U + 1013904223U;
                row[x] = static_cast<uint8_t>(v >> 24);
            }
        }
        return b;
    }();
    return source;
}

// A destination that has been written before, so no page faults are measured.
TBitmap24 WarmBitmap(int AW, int AH) {
    TBitmap24 b(AW, AH);
    std::memset(b.Bits(), 0x55, b.ByteCount());
    return b;
}

// The straightforward turn: walk the source row by row with a table of the W result
// row addresses, one 3-byte copy per pixel.
TBitmap24 RowWalkClockwise(const TBitmap24& ASrc) {
    const int w = ASrc.Width(), h = ASrc.Height();
    TBitmap24 out(h, w);
    std::vector<uint8_t*> rows(static_cast<std::size_t>(w));
    for (int x = 0; x < w; ++x)
        rows[static_cast<std::size_t>(x)] = out.Row(x);
    for (int y = 0; y < h; ++y) {
        const uint8_t* src = ASrc.Row(y);
        const std::ptrdiff_t col = static_cast<std::ptrdiff_t>(h - 1 - y) * 3;
        for (int x = 0; x < w; ++x)
            std::memcpy(rows[static_cast<std::size_t>(x)] + col, src + x * 3, 3);
    }
    return out;
}

// Square tiles, 3-byte copies: the usual first step past the row walk.
TBitmap24 TiledClockwise(const TBitmap24& ASrc) {
    constexpr int KTile = 64;
    const int w = ASrc.Width(), h = ASrc.Height();
    const std::ptrdiff_t ss = ASrc.Stride();
    TBitmap24 out(h, w);
    for (int y0 = 0; y0 < h; y0 += KTile) {
        const int y1 = std::min(h, y0 + KTile);
        for (int x0 = 0; x0 < w; x0 += KTile) {
            const int x1 = std::min(w, x0 + KTile);
            for (int x = x0; x < x1; ++x) {
                uint8_t* dst = out.Row(x) + (h - 1 - y0) * 3;
                const uint8_t* src = ASrc.Row(y0) + x * 3;
                for (int y = y0; y < y1; ++y, dst -= 3, src += ss)
                    std::memcpy(dst, src, 3);
            }
        }
    }
    return out;
}

void BmMemcpy(benchmark::State& AState) {
    const TBitmap24& src = Source();
    TBitmap24 dst = WarmBitmap(KW, KH);
    for (auto _ : AState) {
        std::memcpy(dst.Bits(), src.Bits(), src.ByteCount());
        benchmark::ClobberMemory();
    }
}

void BmClone(benchmark::State& AState) {
    const TBitmap24& src = Source();
    for (auto _ : AState) {
        TBitmap24 copy = src.Clone();
        benchmark::DoNotOptimize(copy.Bits());
    }
}

void BmRotate90(benchmark::State& AState, bool AClockwise) {
    const TBitmap24& src = Source();
    for (auto _ : AState) {
        TBitmap24 turned = RotateBitmap90(src, AClockwise);
        benchmark::DoNotOptimize(turned.Bits());
    }
}

void BmRotateRowsWarm(benchmark::State& AState) {
    const TBitmap24& src = Source();
    TBitmap24 dst = WarmBitmap(KH, KW);
    for (auto _ : AState) {
        RotateRows90(src.Row(0), src.Stride(), KW, KH, 0, KH, dst.Bits(), dst.Stride(), true);
        benchmark::ClobberMemory();
    }
}

// The first turn after start: the result's memory comes fresh from the system.
void BmRotate90Fresh(benchmark::State& AState) {
    const TBitmap24& src = Source();
    for (auto _ : AState) {
        AState.PauseTiming();
        TBitmap24::DropSpareMemory();
        AState.ResumeTiming();
        TBitmap24 turned = RotateBitmap90(src, true);
        benchmark::DoNotOptimize(turned.Bits());
    }
}

void BmRotate180(benchmark::State& AState) {
    const TBitmap24& src = Source();
    for (auto _ : AState) {
        TBitmap24 turned = RotateBitmap180(src);
        benchmark::DoNotOptimize(turned.Bits());
    }
}

template <TBitmap24 (*F)(const TBitmap24&)> void BmReference(benchmark::State& AState) {
    const TBitmap24& src = Source();
    for (auto _ : AState) {
        TBitmap24 turned = F(src);
        benchmark::DoNotOptimize(turned.Bits());
    }
}

} // namespace

int main(int argc, char** argv) {
    Configure(benchmark::RegisterBenchmark("memcpy 36 MB", BmMemcpy));
    Configure(benchmark::RegisterBenchmark("Clone (new bitmap + memcpy)", BmClone));
    Configure(benchmark::RegisterBenchmark("RotateBitmap90 cw", BmRotate90, true));
    Configure(benchmark::RegisterBenchmark("RotateBitmap90 ccw", BmRotate90, false));
    Configure(
        benchmark::RegisterBenchmark("RotateRows90 cw into written bitmap", BmRotateRowsWarm));
    Configure(benchmark::RegisterBenchmark("RotateBitmap180", BmRotate180));
    Configure(benchmark::RegisterBenchmark("RotateBitmap90 cw, fresh memory", BmRotate90Fresh));
    Configure(
        benchmark::RegisterBenchmark("row walk cw (reference)", BmReference<RowWalkClockwise>));
    Configure(
        benchmark::RegisterBenchmark("64-px tiles cw (reference)", BmReference<TiledClockwise>));
    return RunWithRatios(argc, argv, "Quarter turn of 4000 x 3000",
                         {
                             {"RotateBitmap90 cw", "memcpy 36 MB", 2.0},
                             {"RotateBitmap90 ccw", "memcpy 36 MB", 2.0},
                             {"RotateRows90 cw into written bitmap", "memcpy 36 MB"},
                             {"RotateBitmap90 cw", "Clone (new bitmap + memcpy)"},
                             {"RotateBitmap180", "memcpy 36 MB"},
                             {"row walk cw (reference)", "memcpy 36 MB"},
                             {"64-px tiles cw (reference)", "memcpy 36 MB"},
                             {"row walk cw (reference)", "RotateBitmap90 cw"},
                             {"RotateBitmap90 cw, fresh memory", "memcpy 36 MB"},
                         });
}

#include "imaging/uCrop.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

// The vector paths are chosen at run time by what the processor has. Tests build this
// file a second and third time to check the other paths against the same expectations:
// PICTOPORT_NO_AVX2 leaves the SSE2 and SSSE3 paths, PICTOPORT_NO_SIMD the portable loops.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__)) && !defined(PICTOPORT_NO_SIMD)
#define PICTOPORT_X86_SIMD 1
#include <immintrin.h>
#endif

// The downscale is a box filter: target pixel (i, j) is the mean of the source area
// [i·w/nw, (i+1)·w/nw) x [j·h/nh, (j+1)·h/nh), each source pixel weighed by the part of
// it that lies inside, as GDI's halftone stretch does. The filter is separable: the
// weight of a source pixel is the product of a weight for its column and one for its row.
//
// Weights are fixed point with KWeightBits bits, and those of one target pixel along an
// axis add up to exactly 1 << KWeightBits: each is the difference of two rounded
// cumulative positions, so the rounding telescopes away. A flat colour therefore stays
// exactly that colour, and every result is within about half a level of the exact mean.
//
// Each target row is made from whole source rows in two passes:
// - vertical: the weighed sum of the 2 to 4 source rows it covers (for 4032 -> 1568),
//   sample by sample across the row, all rows at once in registers, rounded to 16 bits
//   with KMidShift bits dropped (1/128 of a level kept). Each source byte is read once
//   (twice for a row that two target rows share) and nothing is read back and written
//   again; the vector units take 16 samples of two rows with one multiply-add.
// - horizontal: for each target pixel, the weighed sum of the pixels of that row of
//   sums it covers, two taps per multiply-add (pmaddwd), rounded to bytes.
// Memory: one row of 16-bit sums and the weight tables, each about one source row's
// size; no intermediate picture.

namespace {

constexpr int KWeightBits = 12;
constexpr uint32_t KOne = 1u << KWeightBits;
// Vertical sums (at most 255 << KWeightBits) lose KMidShift bits, rounded, to fit the
// signed 16 bits pmaddwd multiplies: at most 255 << 7 = 32640.
constexpr int KMidShift = 5;
constexpr uint32_t KMidHalf = 1u << (KMidShift - 1);
// Horizontal sums lose the rest, rounded to nearest.
constexpr int KOutShift = 2 * KWeightBits - KMidShift;
constexpr uint32_t KOutHalf = 1u << (KOutShift - 1);
static_assert((255u << (KWeightBits - KMidShift)) <= 32767);
static_assert((uint64_t(255) << KOutShift) + KOutHalf <= INT32_MAX);

// The weights of one axis, ASrc source pixels onto ADst target pixels (ADst <= ASrc).
struct TAxisWeights {
    std::vector<int> First;        // per target pixel: first source pixel it covers
    std::vector<int> Count;        // per target pixel: source pixels it covers
    std::vector<uint32_t> Weights; // per target pixel: Taps weights, zero after Count
    int Taps = 0;                  // the largest Count
};

TAxisWeights AxisWeights(int ASrc, int ADst) {
    // In units of 1 / ADst source pixel: target i covers [i·n, (i+1)·n), source j
    // covers [j·m, (j+1)·m). Exact integers (n·m < 2^62).
    const int64_t n = ASrc, m = ADst;
    // The cumulative weight at t units into a target pixel, rounded half up.
    const auto at = [n](int64_t AT) { return (AT * (2 * int64_t(KOne)) + n) / (2 * n); };
    TAxisWeights a;
    // A box of n/m pixels touches at most this many.
    const int maxTaps = static_cast<int>((n + m - 1) / m) + 1;
    a.First.resize(static_cast<std::size_t>(m));
    a.Count.resize(static_cast<std::size_t>(m));
    a.Weights.assign(static_cast<std::size_t>(m) * maxTaps, 0);
    for (int64_t i = 0; i < m; ++i) {
        const int64_t lo = i * n, hi = lo + n;
        int64_t j0 = lo / m;
        const int64_t j1 = (hi + m - 1) / m; // source pixels [j0, j1)
        uint32_t* w = &a.Weights[static_cast<std::size_t>(i) * maxTaps];
        int k = 0;
        for (int64_t j = j0; j < j1; ++j) {
            const int64_t s = std::max(j * m, lo) - lo, e = std::min((j + 1) * m, hi) - lo;
            const uint32_t v = static_cast<uint32_t>(at(e) - at(s));
            if (v == 0 && k == 0) {
                ++j0; // a sliver whose weight rounds to nothing
                continue;
            }
            w[k++] = v;
        }
        while (k > 0 && w[k - 1] == 0)
            --k;
        a.First[static_cast<std::size_t>(i)] = static_cast<int>(j0);
        a.Count[static_cast<std::size_t>(i)] = k;
        a.Taps = std::max(a.Taps, k);
    }
    // Repack to the taps actually used, so the horizontal pass does no empty work.
    if (a.Taps < maxTaps) {
        for (int64_t i = 1; i < m; ++i)
            std::memmove(&a.Weights[static_cast<std::size_t>(i) * a.Taps],
                         &a.Weights[static_cast<std::size_t>(i) * maxTaps],
                         sizeof(uint32_t) * static_cast<std::size_t>(a.Taps));
        a.Weights.resize(static_cast<std::size_t>(m) * a.Taps);
    }
    return a;
}

// The horizontal weights as pmaddwd takes them: per pair of target pixels (2j, 2j + 1)
// and per step t (taps 2t and 2t + 1), 16 values: (w2t, w2t+1) three times and 0, 0 for
// pixel 2j, then the same for pixel 2j + 1 (zero when there is none).
std::vector<int16_t> PairedWeights(const TAxisWeights& AX) {
    const std::size_t m = AX.First.size();
    const int steps = (AX.Taps + 1) / 2;
    std::vector<int16_t> p((m + 1) / 2 * steps * 16, 0);
    for (std::size_t i = 0; i < m; ++i) {
        const uint32_t* w = &AX.Weights[i * AX.Taps];
        for (int t = 0; t < steps; ++t) {
            int16_t* q = &p[((i / 2) * steps + t) * 16 + (i % 2) * 8];
            const auto wa = static_cast<int16_t>(w[2 * t]);
            const auto wb = static_cast<int16_t>(2 * t + 1 < AX.Taps ? w[2 * t + 1] : 0);
            for (int c = 0; c < 3; ++c) {
                q[2 * c] = wa;
                q[2 * c + 1] = wb;
            }
        }
    }
    return p;
}

// ---------------------------------------------------------------------------------------
// Vertical pass: AMid[x] = (sum over k of AW[k] · ARows[k][x] + KMidHalf) >> KMidShift
// for x in [AFrom, ATo).

void SumRowsPortable(uint16_t* AMid, const uint8_t* const* ARows, const uint32_t* AW, int ACount,
                     std::size_t AFrom, std::size_t ATo) {
    for (std::size_t x = AFrom; x < ATo; ++x) {
        uint32_t s = KMidHalf;
        for (int k = 0; k < ACount; ++k)
            s += AW[k] * ARows[k][x];
        AMid[x] = static_cast<uint16_t>(s >> KMidShift);
    }
}

#ifdef PICTOPORT_X86_SIMD

// pmaddwd multiplies 16-bit samples (0..255) by 16-bit weights (at most 4096) and adds
// neighbouring products into 32 bits. Two rows are interleaved sample by sample and
// weighed with the pairs (wa, wb); a row left over is paired with zeros.

template <int ACountT>
void SumRowsSse2(uint16_t* AMid, const uint8_t* const* ARows, const uint32_t* AW, int ACount,
                 std::size_t AN) {
    const int count = ACountT > 0 ? ACountT : ACount;
    const __m128i zero = _mm_setzero_si128();
    const __m128i half = _mm_set1_epi32(static_cast<int>(KMidHalf));
    std::size_t x = 0;
    for (; x + 16 <= AN; x += 16) {
        __m128i s0 = half, s1 = half, s2 = half, s3 = half;
        int k = 0;
        for (; k + 1 < count; k += 2) {
            const __m128i w = _mm_set1_epi32(static_cast<int>(AW[k] | AW[k + 1] << 16));
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ARows[k] + x));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ARows[k + 1] + x));
            const __m128i lo = _mm_unpacklo_epi8(a, b), hi = _mm_unpackhi_epi8(a, b);
            s0 = _mm_add_epi32(s0, _mm_madd_epi16(_mm_unpacklo_epi8(lo, zero), w));
            s1 = _mm_add_epi32(s1, _mm_madd_epi16(_mm_unpackhi_epi8(lo, zero), w));
            s2 = _mm_add_epi32(s2, _mm_madd_epi16(_mm_unpacklo_epi8(hi, zero), w));
            s3 = _mm_add_epi32(s3, _mm_madd_epi16(_mm_unpackhi_epi8(hi, zero), w));
        }
        if (k < count) {
            const __m128i w = _mm_set1_epi32(static_cast<int>(AW[k]));
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ARows[k] + x));
            const __m128i lo = _mm_unpacklo_epi8(a, zero), hi = _mm_unpackhi_epi8(a, zero);
            s0 = _mm_add_epi32(s0, _mm_madd_epi16(_mm_unpacklo_epi16(lo, zero), w));
            s1 = _mm_add_epi32(s1, _mm_madd_epi16(_mm_unpackhi_epi16(lo, zero), w));
            s2 = _mm_add_epi32(s2, _mm_madd_epi16(_mm_unpacklo_epi16(hi, zero), w));
            s3 = _mm_add_epi32(s3, _mm_madd_epi16(_mm_unpackhi_epi16(hi, zero), w));
        }
        s0 = _mm_srli_epi32(s0, KMidShift);
        s1 = _mm_srli_epi32(s1, KMidShift);
        s2 = _mm_srli_epi32(s2, KMidShift);
        s3 = _mm_srli_epi32(s3, KMidShift);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(AMid + x), _mm_packs_epi32(s0, s1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(AMid + x + 8), _mm_packs_epi32(s2, s3));
    }
    SumRowsPortable(AMid, ARows, AW, count, x, AN);
}

template <int ACountT>
__attribute__((target("avx2"))) void SumRowsAvx2(uint16_t* AMid, const uint8_t* const* ARows,
                                                 const uint32_t* AW, int ACount, std::size_t AN) {
    const int count = ACountT > 0 ? ACountT : ACount;
    const __m256i half = _mm256_set1_epi32(static_cast<int>(KMidHalf));
    std::size_t x = 0;
    for (; x + 16 <= AN; x += 16) {
        __m256i s0 = half, s1 = half; // samples x .. x+7, x+8 .. x+15
        int k = 0;
        for (; k + 1 < count; k += 2) {
            const __m256i w = _mm256_set1_epi32(static_cast<int>(AW[k] | AW[k + 1] << 16));
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ARows[k] + x));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ARows[k + 1] + x));
            s0 = _mm256_add_epi32(
                s0, _mm256_madd_epi16(_mm256_cvtepu8_epi16(_mm_unpacklo_epi8(a, b)), w));
            s1 = _mm256_add_epi32(
                s1, _mm256_madd_epi16(_mm256_cvtepu8_epi16(_mm_unpackhi_epi8(a, b)), w));
        }
        if (k < count) {
            const __m256i w = _mm256_set1_epi32(static_cast<int>(AW[k]));
            const uint8_t* a = ARows[k] + x;
            s0 = _mm256_add_epi32(s0, _mm256_madd_epi16(_mm256_cvtepu8_epi32(_mm_loadl_epi64(
                                                            reinterpret_cast<const __m128i*>(a))),
                                                        w));
            s1 = _mm256_add_epi32(
                s1, _mm256_madd_epi16(_mm256_cvtepu8_epi32(
                                          _mm_loadl_epi64(reinterpret_cast<const __m128i*>(a + 8))),
                                      w));
        }
        s0 = _mm256_srli_epi32(s0, KMidShift);
        s1 = _mm256_srli_epi32(s1, KMidShift);
        // packs works within 128-bit lanes: put the four 64-bit quarters back in order.
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(s0, s1), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(AMid + x), packed);
    }
    SumRowsPortable(AMid, ARows, AW, count, x, AN);
}

bool HasAvx2() {
#ifdef PICTOPORT_NO_AVX2
    return false;
#else
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
#endif
}

bool HasSsse3() {
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}

#endif

void SumRows(uint16_t* AMid, const uint8_t* const* ARows, const uint32_t* AW, int ACount,
             std::size_t AN) {
#ifdef PICTOPORT_X86_SIMD
    if (HasAvx2()) {
        switch (ACount) {
        case 2:
            return SumRowsAvx2<2>(AMid, ARows, AW, ACount, AN);
        case 3:
            return SumRowsAvx2<3>(AMid, ARows, AW, ACount, AN);
        case 4:
            return SumRowsAvx2<4>(AMid, ARows, AW, ACount, AN);
        default:
            return SumRowsAvx2<0>(AMid, ARows, AW, ACount, AN);
        }
    }
    switch (ACount) {
    case 2:
        return SumRowsSse2<2>(AMid, ARows, AW, ACount, AN);
    case 3:
        return SumRowsSse2<3>(AMid, ARows, AW, ACount, AN);
    case 4:
        return SumRowsSse2<4>(AMid, ARows, AW, ACount, AN);
    default:
        return SumRowsSse2<0>(AMid, ARows, AW, ACount, AN);
    }
#else
    SumRowsPortable(AMid, ARows, AW, ACount, 0, AN);
#endif
}

// ---------------------------------------------------------------------------------------
// Horizontal pass: target pixel i of ADst is the weighed sum of the Taps pixels of AMid
// from First[i], rounded and shifted down to a byte per channel.

void SumColumnsPortable(const uint16_t* AMid, const TAxisWeights& AX, uint8_t* ADst) {
    const int taps = AX.Taps;
    const std::size_t m = AX.First.size();
    for (std::size_t i = 0; i < m; ++i) {
        const uint16_t* a = AMid + static_cast<std::size_t>(AX.First[i]) * 3;
        const uint32_t* w = &AX.Weights[i * taps];
        uint32_t r = KOutHalf, g = KOutHalf, b = KOutHalf;
        for (int k = 0; k < taps; ++k, a += 3) {
            r += w[k] * a[0];
            g += w[k] * a[1];
            b += w[k] * a[2];
        }
        ADst[i * 3 + 0] = static_cast<uint8_t>(r >> KOutShift);
        ADst[i * 3 + 1] = static_cast<uint8_t>(g >> KOutShift);
        ADst[i * 3 + 2] = static_cast<uint8_t>(b >> KOutShift);
    }
}

#ifdef PICTOPORT_X86_SIMD

// Two taps are one 16-byte load of the row of sums at the first of them (R G B R G B and
// two samples more, unused), shuffled to R R G G B B pairs for pmaddwd. The row of sums
// has zeros after the region for the loads past its end, weighed 0.

// 32-bit lanes (R, G, B, 0) of target pixels rounded to bytes: ADst gets R, G, B and the
// zero, which the next pixel overwrites; ALast writes three bytes only.
__attribute__((target("ssse3"))) inline void StorePixel(uint8_t* ADst, __m128i ASum, bool ALast) {
    __m128i v = _mm_srli_epi32(_mm_add_epi32(ASum, _mm_set1_epi32(int(KOutHalf))), KOutShift);
    v = _mm_packus_epi16(_mm_packs_epi32(v, v), v);
    const uint32_t px = static_cast<uint32_t>(_mm_cvtsi128_si32(v));
    if (ALast)
        std::memcpy(ADst, &px, 3);
    else
        std::memcpy(ADst, &px, 4);
}

__attribute__((target("ssse3"))) inline __m128i PairTaps(const uint16_t* AAt) {
    const __m128i mask = _mm_setr_epi8(0, 1, 6, 7, 2, 3, 8, 9, 4, 5, 10, 11, -1, -1, -1, -1);
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(AAt)), mask);
}

template <int AStepsT>
__attribute__((target("ssse3"))) void SumColumnsSsse3(const uint16_t* AMid, const TAxisWeights& AX,
                                                      const int16_t* APaired, uint8_t* ADst) {
    const int steps = AStepsT > 0 ? AStepsT : (AX.Taps + 1) / 2;
    const std::size_t m = AX.First.size();
    const int* first = AX.First.data();
    for (std::size_t i = 0; i < m; ++i) {
        const uint16_t* a = AMid + static_cast<std::size_t>(first[i]) * 3;
        const int16_t* w = APaired + (i / 2) * steps * 16 + (i % 2) * 8;
        __m128i s = _mm_setzero_si128();
        for (int t = 0; t < steps; ++t)
            s = _mm_add_epi32(
                s, _mm_madd_epi16(PairTaps(a + 6 * t),
                                  _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + 16 * t))));
        StorePixel(ADst + i * 3, s, i + 1 == m);
    }
}

// Two target pixels at once, one in each 128-bit lane.
template <int AStepsT>
__attribute__((target("avx2"))) void SumColumnsAvx2(const uint16_t* AMid, const TAxisWeights& AX,
                                                    const int16_t* APaired, uint8_t* ADst) {
    const int steps = AStepsT > 0 ? AStepsT : (AX.Taps + 1) / 2;
    const std::size_t m = AX.First.size();
    const int* first = AX.First.data();
    const __m256i mask = _mm256_setr_epi8(0, 1, 6, 7, 2, 3, 8, 9, 4, 5, 10, 11, -1, -1, -1, -1, 0,
                                          1, 6, 7, 2, 3, 8, 9, 4, 5, 10, 11, -1, -1, -1, -1);
    std::size_t i = 0;
    for (; i + 2 <= m; i += 2) {
        const uint16_t* a = AMid + static_cast<std::size_t>(first[i]) * 3;
        const uint16_t* b = AMid + static_cast<std::size_t>(first[i + 1]) * 3;
        const int16_t* w = APaired + (i / 2) * steps * 16;
        __m256i s = _mm256_setzero_si256();
        for (int t = 0; t < steps; ++t) {
            const __m256i v = _mm256_inserti128_si256(
                _mm256_castsi128_si256(
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 6 * t))),
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 6 * t)), 1);
            s = _mm256_add_epi32(
                s, _mm256_madd_epi16(
                       _mm256_shuffle_epi8(v, mask),
                       _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w + 16 * t))));
        }
        s = _mm256_srli_epi32(_mm256_add_epi32(s, _mm256_set1_epi32(int(KOutHalf))), KOutShift);
        s = _mm256_packus_epi16(_mm256_packs_epi32(s, s), s);
        const uint32_t p0 = static_cast<uint32_t>(_mm256_cvtsi256_si32(s));
        const uint32_t p1 = static_cast<uint32_t>(_mm256_extract_epi32(s, 4));
        std::memcpy(ADst + i * 3, &p0, 4); // its fourth byte: the next pixel's R
        if (i + 2 < m)
            std::memcpy(ADst + i * 3 + 3, &p1, 4);
        else
            std::memcpy(ADst + i * 3 + 3, &p1, 3);
    }
    if (i < m) {
        const uint16_t* a = AMid + static_cast<std::size_t>(first[i]) * 3;
        const int16_t* w = APaired + (i / 2) * steps * 16;
        __m128i s = _mm_setzero_si128();
        for (int t = 0; t < steps; ++t)
            s = _mm_add_epi32(
                s, _mm_madd_epi16(PairTaps(a + 6 * t),
                                  _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + 16 * t))));
        StorePixel(ADst + i * 3, s, true);
    }
}

#endif

void SumColumns(const uint16_t* AMid, const TAxisWeights& AX, const int16_t* APaired,
                uint8_t* ADst) {
#ifdef PICTOPORT_X86_SIMD
    if (HasAvx2()) {
        switch ((AX.Taps + 1) / 2) {
        case 1:
            return SumColumnsAvx2<1>(AMid, AX, APaired, ADst);
        case 2:
            return SumColumnsAvx2<2>(AMid, AX, APaired, ADst);
        case 3:
            return SumColumnsAvx2<3>(AMid, AX, APaired, ADst);
        default:
            return SumColumnsAvx2<0>(AMid, AX, APaired, ADst);
        }
    }
    if (HasSsse3()) {
        switch ((AX.Taps + 1) / 2) {
        case 1:
            return SumColumnsSsse3<1>(AMid, AX, APaired, ADst);
        case 2:
            return SumColumnsSsse3<2>(AMid, AX, APaired, ADst);
        case 3:
            return SumColumnsSsse3<3>(AMid, AX, APaired, ADst);
        default:
            return SumColumnsSsse3<0>(AMid, AX, APaired, ADst);
        }
    }
#else
    (void)APaired;
#endif
    SumColumnsPortable(AMid, AX, ADst);
}

// Makes the target rows of an area-averaging downscale one at a time.
class TAreaScaler {
public:
    // ARegion lies inside ASource; 1 <= AW <= its width, 1 <= AH <= its height.
    TAreaScaler(const TBitmap24& ASource, const TRect& ARegion, int AW, int AH)
        : FSource(ASource), FRegion(ARegion), FX(AxisWeights(ARegion.Width(), AW)),
          FY(AxisWeights(ARegion.Height(), AH)), FPaired(PairedWeights(FX)),
          // Loads reach up to 2 taps and 8 samples past a target pixel's last source
          // pixel; the tail after the region is never written and stays zero.
          FMid((static_cast<std::size_t>(ARegion.Width()) + FX.Taps + 2) * 3 + 8, 0),
          FRows(static_cast<std::size_t>(FY.Taps)) {}

    // Writes target row AY (AW * 3 bytes).
    void Row(int AY, uint8_t* ADst) {
        const std::size_t y = static_cast<std::size_t>(AY);
        const int first = FRegion.Top + FY.First[y], count = FY.Count[y];
        for (int k = 0; k < count; ++k)
            FRows[static_cast<std::size_t>(k)] = FSource.Row(first + k) + FRegion.Left * 3;
        SumRows(FMid.data(), FRows.data(), &FY.Weights[y * FY.Taps], count,
                static_cast<std::size_t>(FRegion.Width()) * 3);
        SumColumns(FMid.data(), FX, FPaired.data(), ADst);
    }

private:
    const TBitmap24& FSource;
    TRect FRegion;
    TAxisWeights FX, FY;
    std::vector<int16_t> FPaired;
    std::vector<uint16_t> FMid;
    std::vector<const uint8_t*> FRows;
};

// ARegion cut to the bitmap; empty (Width() or Height() <= 0) when nothing is left.
TRect ClipToBitmap(const TBitmap24& ABitmap, const TRect& ARegion) {
    if (ABitmap.IsEmpty() || !(ARegion.Left < ARegion.Right && ARegion.Top < ARegion.Bottom))
        return {};
    const TRect r{std::max(ARegion.Left, 0), std::max(ARegion.Top, 0),
                  std::min(ARegion.Right, ABitmap.Width()),
                  std::min(ARegion.Bottom, ABitmap.Height())};
    if (!(r.Left < r.Right && r.Top < r.Bottom))
        return {};
    return r;
}

// ---------------------------------------------------------------------------------------
// JPEG encoding through libjpeg-turbo. libjpeg reports a fatal error by calling
// error_exit, which must not return: it jumps back to the setjmp in JpegCall. Between
// the two lie only libjpeg and the small captureless steps passed to JpegCall, plain C
// data, so nothing is left undestroyed; rows are made outside JpegCall.
//
// The bytes go straight into a QByteArray that grows by doubling (jpeg_mem_dest would
// leak its own buffer when an error ends the encoding, and need a copy at the end).

struct TJpegError {
    jpeg_error_mgr Pub;
    std::jmp_buf Jump;
};

[[noreturn]] void JpegFail(j_common_ptr AInfo) {
    std::longjmp(reinterpret_cast<TJpegError*>(AInfo->err)->Jump, 1);
}

void JpegSilent(j_common_ptr) {}

struct TJpegDest {
    jpeg_destination_mgr Pub;
    QByteArray* Out;
};

void DestInit(j_compress_ptr AInfo) {
    auto* d = reinterpret_cast<TJpegDest*>(AInfo->dest);
    d->Pub.next_output_byte = reinterpret_cast<JOCTET*>(d->Out->data());
    d->Pub.free_in_buffer = static_cast<std::size_t>(d->Out->size());
}

// The buffer is full: double it.
boolean DestGrow(j_compress_ptr AInfo) {
    auto* d = reinterpret_cast<TJpegDest*>(AInfo->dest);
    const qsizetype used = d->Out->size();
    bool grown = false;
    try {
        if (used <= std::numeric_limits<qsizetype>::max() / 4) {
            d->Out->resize(used * 2);
            grown = true;
        }
    } catch (const std::bad_alloc&) {
    }
    if (!grown)
        ERREXIT1(AInfo, JERR_OUT_OF_MEMORY, 1); // outside the try: it jumps
    d->Pub.next_output_byte = reinterpret_cast<JOCTET*>(d->Out->data()) + used;
    d->Pub.free_in_buffer = static_cast<std::size_t>(d->Out->size() - used);
    return TRUE;
}

void DestTerm(j_compress_ptr AInfo) {
    auto* d = reinterpret_cast<TJpegDest*>(AInfo->dest);
    d->Out->resize(d->Out->size() - static_cast<qsizetype>(d->Pub.free_in_buffer));
}

struct TJpegEncoder {
    jpeg_compress_struct Info;
    TJpegError Error;
    TJpegDest Dest;
    QByteArray Out;
    bool Created = false;

    TJpegEncoder() {
        std::memset(&Info, 0, sizeof Info);
        std::memset(&Error, 0, sizeof Error);
        std::memset(&Dest, 0, sizeof Dest);
    }
    ~TJpegEncoder() {
        if (Created)
            jpeg_destroy_compress(&Info);
    }
    TJpegEncoder(const TJpegEncoder&) = delete;
    TJpegEncoder& operator=(const TJpegEncoder&) = delete;
};

using TJpegStep = void (*)(TJpegEncoder&, void*);

// Runs one step; false when libjpeg gave up.
bool JpegCall(TJpegEncoder& AE, TJpegStep AStep, void* AArg) {
    if (setjmp(AE.Error.Jump))
        return false;
    AStep(AE, AArg);
    return true;
}

struct TJpegStart {
    int Width, Height, Quality;
};

struct TJpegRows {
    JSAMPARRAY Rows;
    JDIMENSION Count;
};

// Encodes AWidth x AHeight RGB rows as a baseline JPEG. AFill(AY, ARows, ACount) points
// ARows[0, ACount) at rows AY, AY + 1, ... (it may make them into a buffer of its own);
// it is called for consecutive batches from the top. Empty on any failure.
template <class TFill>
QByteArray EncodeRows(int AWidth, int AHeight, int AQuality, int ABatch, TFill&& AFill) {
    TJpegEncoder e;
    try {
        // A first guess of the size (a photo at quality 85 takes about 0.2 to 0.5 bytes
        // per pixel); the buffer doubles when it is not enough.
        e.Out.resize(static_cast<qsizetype>(AWidth) * AHeight / 2 + 16384);
    } catch (const std::bad_alloc&) {
        return {};
    }
    e.Info.err = jpeg_std_error(&e.Error.Pub);
    e.Error.Pub.error_exit = JpegFail;
    e.Error.Pub.output_message = JpegSilent; // warnings are not printed
    TJpegStart start{AWidth, AHeight, AQuality};
    const bool started = JpegCall(
        e,
        [](TJpegEncoder& AE, void* AArg) {
            const auto* s = static_cast<const TJpegStart*>(AArg);
            jpeg_create_compress(&AE.Info);
            AE.Created = true;
            AE.Dest.Pub.init_destination = DestInit;
            AE.Dest.Pub.empty_output_buffer = DestGrow;
            AE.Dest.Pub.term_destination = DestTerm;
            AE.Dest.Out = &AE.Out;
            AE.Info.dest = &AE.Dest.Pub;
            AE.Info.image_width = static_cast<JDIMENSION>(s->Width);
            AE.Info.image_height = static_cast<JDIMENSION>(s->Height);
            AE.Info.input_components = 3;
            AE.Info.in_color_space = JCS_RGB;
            jpeg_set_defaults(&AE.Info); // JFIF APP0 only; baseline Huffman coding
            jpeg_set_quality(&AE.Info, s->Quality, TRUE);
            jpeg_start_compress(&AE.Info, TRUE);
        },
        &start);
    if (!started)
        return {};
    std::vector<JSAMPROW> rows(static_cast<std::size_t>(ABatch));
    for (int y = 0; y < AHeight; y += ABatch) {
        const int count = std::min(ABatch, AHeight - y);
        AFill(y, rows.data(), count);
        TJpegRows batch{rows.data(), static_cast<JDIMENSION>(count)};
        const bool written = JpegCall(
            e,
            [](TJpegEncoder& AE, void* AArg) {
                auto* b = static_cast<TJpegRows*>(AArg);
                JDIMENSION done = 0;
                while (done < b->Count) {
                    const JDIMENSION n =
                        jpeg_write_scanlines(&AE.Info, b->Rows + done, b->Count - done);
                    if (n == 0)
                        ERREXIT(&AE.Info, JERR_CANT_SUSPEND); // our destination never suspends
                    done += n;
                }
            },
            &batch);
        if (!written)
            return {};
    }
    if (!JpegCall(
            e, [](TJpegEncoder& AE, void*) { jpeg_finish_compress(&AE.Info); }, nullptr))
        return {};
    // Give back the unused part of the first guess when it is large.
    if (e.Out.capacity() - e.Out.size() > e.Out.size() / 4)
        e.Out.squeeze();
    return std::move(e.Out);
}

// Rows of a bitmap region as libjpeg's row pointers. libjpeg only reads input rows; its
// row type is not const.
auto RegionRows(const TBitmap24& ABitmap, int ALeft, int ATop) {
    return [&ABitmap, ALeft, ATop](int AY, JSAMPROW* ARows, int ACount) {
        for (int k = 0; k < ACount; ++k)
            ARows[k] = const_cast<JSAMPROW>(ABitmap.Row(ATop + AY + k) + ALeft * 3);
    };
}

// libjpeg's unit of work with 2 x 2 chroma subsampling: 16 rows.
constexpr int KEncodeBatch = 16;

} // namespace

QSize UploadSize(int AWidth, int AHeight) {
    if (AWidth <= MaxUploadSide && AHeight <= MaxUploadSide)
        return QSize(AWidth, AHeight);
    const double f = double(MaxUploadSide) / std::max(AWidth, AHeight);
    // nearbyint rounds to nearest, halves to even, under the default rounding mode.
    const int w = std::max(1, static_cast<int>(std::nearbyint(AWidth * f)));
    const int h = std::max(1, static_cast<int>(std::nearbyint(AHeight * f)));
    return QSize(w, h);
}

TBitmap24 DownscaleArea(const TBitmap24& ASource, const TRect& ARegion, int ANewWidth,
                        int ANewHeight) {
    const TRect r = ClipToBitmap(ASource, ARegion);
    if (r.Width() <= 0 || ANewWidth < 1 || ANewHeight < 1 || ANewWidth > r.Width() ||
        ANewHeight > r.Height())
        return {};
    TBitmap24 out(ANewWidth, ANewHeight);
    TAreaScaler scaler(ASource, r, ANewWidth, ANewHeight);
    for (int y = 0; y < ANewHeight; ++y)
        scaler.Row(y, out.Row(y));
    return out;
}

QByteArray EncodeJpeg(const TBitmap24& ABitmap, int AQuality) {
    if (ABitmap.IsEmpty())
        return {};
    return EncodeRows(ABitmap.Width(), ABitmap.Height(), AQuality, ABitmap.Height(),
                      RegionRows(ABitmap, 0, 0));
}

QByteArray CropToJpeg(const TBitmap24& ABitmap, const TRect& ARegion) {
    const TRect r = ClipToBitmap(ABitmap, ARegion);
    if (r.Width() <= 0)
        return {};
    const QSize size = UploadSize(r.Width(), r.Height());
    if (size.width() == r.Width() && size.height() == r.Height())
        return EncodeRows(r.Width(), r.Height(), 85, r.Height(),
                          RegionRows(ABitmap, r.Left, r.Top));

    // Downscaled rows go to the encoder as they are made, a batch at a time.
    TAreaScaler scaler(ABitmap, r, size.width(), size.height());
    const std::size_t rowBytes = static_cast<std::size_t>(size.width()) * 3;
    std::vector<uint8_t> batch(rowBytes * KEncodeBatch);
    return EncodeRows(size.width(), size.height(), 85, KEncodeBatch,
                      [&](int AY, JSAMPROW* ARows, int ACount) {
                          for (int k = 0; k < ACount; ++k) {
                              ARows[k] = batch.data() + rowBytes * static_cast<std::size_t>(k);
                              scaler.Row(AY + k, ARows[k]);
                          }
                      });
}

#include "imaging/uBitmap.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace {

constexpr std::size_t KAlign = 64;

uint8_t* AllocatePixels(std::size_t ABytes) {
    const std::size_t size = (ABytes + KAlign - 1) / KAlign * KAlign;
    void* p = std::aligned_alloc(KAlign, size);
    if (!p)
        throw std::bad_alloc();
    return static_cast<uint8_t*>(p);
}

} // namespace

void TBitmap24::TFree::operator()(uint8_t* AP) const noexcept {
    std::free(AP);
}

std::ptrdiff_t TBitmap24::StrideFor(int AWidth) {
    if (AWidth <= 0 || AWidth > (INT_MAX - 3) / 3)
        return 0;
    return (static_cast<std::ptrdiff_t>(AWidth) * 3 + 3) & ~std::ptrdiff_t(3);
}

TBitmap24::TBitmap24(int AWidth, int AHeight) {
    if (AWidth <= 0 || AHeight <= 0)
        return;
    const std::ptrdiff_t stride = StrideFor(AWidth);
    if (stride == 0)
        throw std::bad_alloc();
    FBits.reset(AllocatePixels(static_cast<std::size_t>(stride) * AHeight));
    FWidth = AWidth;
    FHeight = AHeight;
    FStride = stride;
}

TBitmap24::TBitmap24(TBitmap24&& AOther) noexcept
    : FWidth(std::exchange(AOther.FWidth, 0)), FHeight(std::exchange(AOther.FHeight, 0)),
      FStride(std::exchange(AOther.FStride, 0)), FBits(std::move(AOther.FBits)) {}

TBitmap24& TBitmap24::operator=(TBitmap24&& AOther) noexcept {
    if (this != &AOther) {
        FWidth = std::exchange(AOther.FWidth, 0);
        FHeight = std::exchange(AOther.FHeight, 0);
        FStride = std::exchange(AOther.FStride, 0);
        FBits = std::move(AOther.FBits);
    }
    return *this;
}

TBitmap24 TBitmap24::Clone() const {
    TBitmap24 copy(FWidth, FHeight);
    if (!IsEmpty())
        std::memcpy(copy.Bits(), Bits(), ByteCount());
    return copy;
}

#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// A 24-bit picture: 3 bytes per pixel in the order R, G, B, top row first.
// Each row starts on a 64-byte boundary (a cache line; the turns run faster). That is also
// a multiple of 4 bytes, so QImage::Format_RGB888 can wrap the pixels without a copy.
// Move-only: a photo is tens of megabytes, so every copy is spelled out as Clone().
class TBitmap24 {
public:
    TBitmap24() = default;
    // Pixels are left uninitialised: every producer overwrites them all, and zeroing
    // a 36 MB buffer first would cost as much as the copy itself.
    // Throws std::bad_alloc when the size is too large to address.
    TBitmap24(int AWidth, int AHeight);

    TBitmap24(TBitmap24&& AOther) noexcept;
    TBitmap24& operator=(TBitmap24&& AOther) noexcept;
    TBitmap24(const TBitmap24&) = delete;
    TBitmap24& operator=(const TBitmap24&) = delete;
    ~TBitmap24() = default;

    TBitmap24 Clone() const;

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    std::ptrdiff_t Stride() const { return FStride; }
    bool IsEmpty() const { return FWidth <= 0 || FHeight <= 0; }
    std::size_t ByteCount() const { return static_cast<std::size_t>(FStride) * FHeight; }

    uint8_t* Bits() { return FBits.get(); }
    const uint8_t* Bits() const { return FBits.get(); }
    uint8_t* Row(int AY) { return FBits.get() + AY * FStride; }
    const uint8_t* Row(int AY) const { return FBits.get() + AY * FStride; }

    // Bytes per row for a width, padded to 64; 0 for an unusable width.
    static std::ptrdiff_t StrideFor(int AWidth);

    // The pixels of the last freed photo-sized bitmap are kept for the next one of the
    // same size (showing or turning a photo frees one and makes the next). This lets
    // that memory go, e.g. when no photo is on display.
    static void DropSpareMemory();

private:
    struct TFree {
        constexpr TFree() noexcept : Capacity(0) {}
        constexpr explicit TFree(std::size_t ACapacity) noexcept : Capacity(ACapacity) {}
        void operator()(uint8_t* AP) const noexcept;
        std::size_t Capacity;
    };

    int FWidth = 0;
    int FHeight = 0;
    std::ptrdiff_t FStride = 0;
    std::unique_ptr<uint8_t[], TFree> FBits;
};

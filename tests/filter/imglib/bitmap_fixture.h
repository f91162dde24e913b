// Test helpers: bitmaps whose pixels the test owns, filled with patterns.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "HdxImgLib.h"

namespace imgtest {

// Bytes per row of a bitmap, rows padded to 4 bytes.
inline int Stride(int width, int bits)
{
    return ((width * bits + 31) / 32) * 4;
}

// A 24-bit bitmap record over pixels held by the test (until an operation
// gives the record its own block, which the destructor releases).
class Bitmap24 {
public:
    Bitmap24(int width, int height, int byteOrder = 1)
        : pixels_(static_cast<size_t>(Stride(width, 24)) * height, 0)
    {
        result_ = IL_CreateBitmap(&record_, kBitmapStructSize, kBitmapKind, width, height, 24,
                                  byteOrder, nullptr, 4, pixels_.data(),
                                  static_cast<int64_t>(pixels_.size()));
    }
    ~Bitmap24() { IL_FreeBitmap(&record_); }
    Bitmap24(const Bitmap24&) = delete;
    Bitmap24& operator=(const Bitmap24&) = delete;

    _tagBITMAPHANDLE* get() { return &record_; }
    int created() const { return result_; }
    unsigned char* at(int x, int y) { return record_.pData + y * record_.bytesPerRow + 3 * x; }
    // The visible pixel bytes (no row padding) in stored order.
    std::vector<unsigned char> bytes() const
    {
        std::vector<unsigned char> out;
        for (int y = 0; y < record_.height; ++y) {
            const unsigned char* row = record_.pData + y * record_.bytesPerRow;
            out.insert(out.end(), row, row + 3 * record_.width);
        }
        return out;
    }
    void fill(unsigned char value)
    {
        for (int y = 0; y < record_.height; ++y)
            for (int x = 0; x < 3 * record_.width; ++x)
                record_.pData[y * record_.bytesPerRow + x] = value;
    }
    void fillRandom(uint32_t seed)
    {
        std::mt19937 rng(seed);
        for (int y = 0; y < record_.height; ++y)
            for (int x = 0; x < 3 * record_.width; ++x)
                record_.pData[y * record_.bytesPerRow + x] = static_cast<unsigned char>(rng() & 0xFF);
    }

private:
    std::vector<unsigned char> pixels_;
    _tagBITMAPHANDLE record_{};
    int result_ = 0;
};

// Three plane records released at the end of the test.
struct Planes {
    _tagBITMAPHANDLE records[3] = {};
    _tagBITMAPHANDLE* list[3] = {&records[0], &records[1], &records[2]};
    ~Planes()
    {
        for (auto& r : records)
            IL_FreeBitmap(&r);
    }
};

// A 24-bit record owned by the test body and released at its end.
struct OwnedRecord {
    _tagBITMAPHANDLE record{};
    ~OwnedRecord() { IL_FreeBitmap(&record); }
};

}  // namespace imgtest

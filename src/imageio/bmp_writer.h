// Writing BMP files: 24-bit colour and 8-bit with a palette, Windows layout,
// bottom-up rows padded to 4 bytes. Used by the sample-set generator, the
// demosaic command and the tests.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace ps {

struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;  // row-major from the top row, 3 bytes a pixel (R, G, B)
  uint8_t* pixel(int x, int y) { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }  // 0-based
  const uint8_t* pixel(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};

// Encodes a 24-bit BMP (Windows layout, 40-byte info header).
std::vector<uint8_t> EncodeBmp24(const RgbImage& image);
// Encodes an 8-bit BMP: `indices` row-major from the top row, `palette` (R, G, B)
// entries written as 4-byte Windows entries.
std::vector<uint8_t> EncodeBmp8(int width, int height, const std::vector<uint8_t>& indices,
                                const std::vector<std::array<uint8_t, 3>>& palette);

// Writes the bytes whole or not at all (a temporary file beside the target,
// flushed, checked and renamed); false with a message naming the file.
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error = nullptr);

}  // namespace ps

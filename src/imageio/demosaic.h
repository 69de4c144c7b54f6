// Division-of-focal-plane polarization cameras: one raw frame holds the four
// polarizer orientations in every 2 x 2 block of pixels. Splitting the frame
// turns it into the four photographs of an image set, one pixel per block
// (no interpolation), so each sub-image is half the frame's width and height.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ps {

// The polarizer azimuth (0, 45, 90 or 135 degrees) of the pixels at block
// positions (row 0, col 0), (0, 1), (1, 0), (1, 1). Every azimuth occurs once.
struct MosaicPattern {
  std::array<int, 4> azimuth{90, 45, 135, 0};  // the layout of the common Sony sensors

  // Block position (0..3, row-major) of the pixels taken at `slot` (1..4 = 0, 45, 90, 135 degrees).
  int positionOfSlot(int slot) const;
  bool operator==(const MosaicPattern&) const = default;
};

// Parses "a,b,c,d" (azimuths in degrees, optionally surrounded by blanks).
// Returns false with a message in `error` unless the four values are a
// permutation of 0, 45, 90, 135.
bool ParseMosaicPattern(const std::string& text, MosaicPattern* out, std::string* error);
std::string FormatMosaicPattern(const MosaicPattern& pattern);

// An 8-bit grey picture, row-major from the top row.
struct GreyImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;
  uint8_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }  // 0-based
};

// The four sub-images of a frame, index slot - 1 (0, 45, 90, 135 degrees).
using PolarizationSet = std::array<GreyImage, 4>;

// Splits a raw mosaic frame (`width` x `height` grey bytes, rows `stride` bytes
// apart, top row first) into its four sub-images of floor(width / 2) x
// floor(height / 2) pixels; a last odd row or column belongs to no complete
// block and is dropped. Throws std::invalid_argument for a frame smaller than
// one block or a stride shorter than the width.
PolarizationSet SplitMosaic(const uint8_t* frame, int width, int height, size_t stride,
                            const MosaicPattern& pattern);

// File name of the sub-image of a slot: "0.bmp", "45.bmp", "90.bmp", "135.bmp".
std::string SubImageFileName(int slot);

// Encodes a grey picture as a 24-bit BMP (red = green = blue) or as an 8-bit BMP
// whose palette is the full grey ramp (entry i = (i, i, i)), so that the four
// files of a set share one palette and an index is its grey level.
std::vector<uint8_t> EncodeGreyBmp(const GreyImage& image, int bits);

}  // namespace ps

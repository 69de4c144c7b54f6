#include "imageio/bmp_writer.h"

#include <cstdio>

#include "state/atomic_file.h"

namespace ps {

namespace {
void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = v & 0xff;
  b[at + 1] = (v >> 8) & 0xff;
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = (v >> (8 * i)) & 0xff;
}

std::vector<uint8_t> Header(int width, int height, int bits, uint32_t paletteBytes, uint32_t rowBytes) {
  const uint32_t offset = 14 + 40 + paletteBytes;
  const uint32_t imageSize = rowBytes * static_cast<uint32_t>(height);
  std::vector<uint8_t> b(offset + imageSize, 0);
  b[0] = 'B';
  b[1] = 'M';
  Put32(b, 2, offset + imageSize);
  Put32(b, 10, offset);
  Put32(b, 14, 40);
  Put32(b, 18, static_cast<uint32_t>(width));
  Put32(b, 22, static_cast<uint32_t>(height));
  Put16(b, 26, 1);
  Put16(b, 28, static_cast<uint32_t>(bits));
  Put32(b, 30, 0);
  Put32(b, 34, imageSize);
  Put32(b, 38, 2835);
  Put32(b, 42, 2835);
  Put32(b, 46, bits == 8 ? 256 : 0);
  Put32(b, 50, 0);
  return b;
}
}  // namespace

std::vector<uint8_t> EncodeBmp24(const RgbImage& img) {
  const uint32_t rowBytes = (static_cast<uint32_t>(img.width) * 3 + 3) / 4 * 4;
  std::vector<uint8_t> b = Header(img.width, img.height, 24, 0, rowBytes);
  const size_t offset = 54;
  for (int r = 0; r < img.height; ++r) {
    const int y = img.height - 1 - r;  // first stored row is the bottom row
    uint8_t* dst = &b[offset + static_cast<size_t>(r) * rowBytes];
    for (int x = 0; x < img.width; ++x) {
      const uint8_t* p = img.pixel(x, y);
      dst[3 * x] = p[2];
      dst[3 * x + 1] = p[1];
      dst[3 * x + 2] = p[0];
    }
  }
  return b;
}

std::vector<uint8_t> EncodeBmp8(int width, int height, const std::vector<uint8_t>& indices,
                                const std::vector<std::array<uint8_t, 3>>& palette) {
  const uint32_t rowBytes = (static_cast<uint32_t>(width) + 3) / 4 * 4;
  std::vector<uint8_t> b = Header(width, height, 8, 256 * 4, rowBytes);
  for (size_t i = 0; i < 256 && i < palette.size(); ++i) {
    b[54 + 4 * i] = palette[i][2];
    b[54 + 4 * i + 1] = palette[i][1];
    b[54 + 4 * i + 2] = palette[i][0];
  }
  const size_t offset = 54 + 1024;
  for (int r = 0; r < height; ++r) {
    const int y = height - 1 - r;
    for (int x = 0; x < width; ++x)
      b[offset + static_cast<size_t>(r) * rowBytes + x] = indices[static_cast<size_t>(y) * width + x];
  }
  return b;
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error) {
  return WriteFileAtomically(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), error);
}

}  // namespace ps

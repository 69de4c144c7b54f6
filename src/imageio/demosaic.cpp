#include "imageio/demosaic.h"

#include <sstream>
#include <stdexcept>

#include "imageio/bmp_writer.h"

namespace ps {

namespace {
constexpr std::array<int, 4> kSlotAzimuths{0, 45, 90, 135};

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const auto last = s.find_last_not_of(" \t");
  return s.substr(first, last - first + 1);
}
}  // namespace

int MosaicPattern::positionOfSlot(int slot) const {
  if (slot < 1 || slot > 4) throw std::out_of_range("slot must be 1..4");
  const int wanted = kSlotAzimuths[static_cast<size_t>(slot - 1)];
  for (int p = 0; p < 4; ++p)
    if (azimuth[static_cast<size_t>(p)] == wanted) return p;
  throw std::logic_error("mosaic pattern lacks azimuth " + std::to_string(wanted));
}

bool ParseMosaicPattern(const std::string& text, MosaicPattern* out, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = "invalid pattern \"" + text + "\": " + why;
    return false;
  };
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, ',')) parts.push_back(Trim(part));
  if (!text.empty() && text.back() == ',') parts.push_back("");
  if (parts.size() != 4) return fail("expected four azimuths separated by commas, e.g. 90,45,135,0");

  MosaicPattern pattern;
  std::array<bool, 4> seen{};
  for (size_t i = 0; i < 4; ++i) {
    const std::string& p = parts[i];
    if (p.empty() || p.size() > 3 || p.find_first_not_of("0123456789") != std::string::npos)
      return fail("\"" + p + "\" is not one of 0, 45, 90, 135");
    const int value = std::stoi(p);
    int slot = -1;
    for (size_t k = 0; k < 4; ++k)
      if (kSlotAzimuths[k] == value) slot = static_cast<int>(k);
    if (slot < 0) return fail("\"" + p + "\" is not one of 0, 45, 90, 135");
    if (seen[static_cast<size_t>(slot)]) return fail("azimuth " + p + " occurs twice");
    seen[static_cast<size_t>(slot)] = true;
    pattern.azimuth[i] = value;
  }
  if (out) *out = pattern;
  return true;
}

std::string FormatMosaicPattern(const MosaicPattern& pattern) {
  std::string s;
  for (size_t i = 0; i < 4; ++i) {
    if (i) s += ',';
    s += std::to_string(pattern.azimuth[i]);
  }
  return s;
}

PolarizationSet SplitMosaic(const uint8_t* frame, int width, int height, size_t stride,
                            const MosaicPattern& pattern) {
  if (width < 2 || height < 2) throw std::invalid_argument("a mosaic frame needs at least one 2 x 2 block");
  if (stride < static_cast<size_t>(width)) throw std::invalid_argument("row stride shorter than the width");
  if (frame == nullptr) throw std::invalid_argument("no frame data");

  const int w = width / 2;
  const int h = height / 2;
  PolarizationSet set;
  for (int slot = 1; slot <= 4; ++slot) {
    const int position = pattern.positionOfSlot(slot);
    const int dy = position / 2;
    const int dx = position % 2;
    GreyImage& img = set[static_cast<size_t>(slot - 1)];
    img.width = w;
    img.height = h;
    img.pixels.resize(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y) {
      const uint8_t* src = frame + static_cast<size_t>(2 * y + dy) * stride + dx;
      uint8_t* dst = &img.pixels[static_cast<size_t>(y) * w];
      for (int x = 0; x < w; ++x) dst[x] = src[2 * x];
    }
  }
  return set;
}

std::string SubImageFileName(int slot) {
  if (slot < 1 || slot > 4) throw std::out_of_range("slot must be 1..4");
  return std::to_string(kSlotAzimuths[static_cast<size_t>(slot - 1)]) + ".bmp";
}

std::vector<uint8_t> EncodeGreyBmp(const GreyImage& image, int bits) {
  if (image.width < 1 || image.height < 1 ||
      image.pixels.size() != static_cast<size_t>(image.width) * image.height)
    throw std::invalid_argument("grey image has no pixels or an inconsistent size");
  if (bits == 8) {
    std::vector<std::array<uint8_t, 3>> palette(256);
    for (int i = 0; i < 256; ++i) {
      const auto v = static_cast<uint8_t>(i);
      palette[static_cast<size_t>(i)] = {v, v, v};
    }
    return EncodeBmp8(image.width, image.height, image.pixels, palette);
  }
  if (bits == 24) {
    RgbImage rgb;
    rgb.width = image.width;
    rgb.height = image.height;
    rgb.rgb.resize(image.pixels.size() * 3);
    for (size_t i = 0; i < image.pixels.size(); ++i)
      rgb.rgb[3 * i] = rgb.rgb[3 * i + 1] = rgb.rgb[3 * i + 2] = image.pixels[i];
    return EncodeBmp24(rgb);
  }
  throw std::invalid_argument("bits must be 8 or 24");
}

}  // namespace ps

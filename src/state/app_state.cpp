#include "state/app_state.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace ps {

namespace {
// Largest image dimension the tool accepts; keeps a header field from asking for
// an absurd allocation (four slots of 3 bytes per pixel).
constexpr long long kMaxPixels = 1LL << 28;

[[noreturn]] void outOfRange(const char* what, int x, int y, int a, int b) {
  throw std::out_of_range(std::string(what) + " index out of range (" + std::to_string(x) + ", " +
                          std::to_string(y) + ", " + std::to_string(a) + ", " + std::to_string(b) + ")");
}
}  // namespace

ImageBuffer::ImageBuffer(int width, int height) {
  if (width <= 0 || height <= 0 || static_cast<long long>(width) * height > kMaxPixels)
    throw std::length_error("image dimensions out of range");
  width_ = width;
  height_ = height;
  data_.assign(static_cast<size_t>(width) * height * 3 * kSlots, 0);
}

size_t ImageBuffer::index(int x, int y, int channel, int slot) const {
  if (x < 1 || x > width_ || y < 1 || y > height_ || channel < 0 || channel > 2 || slot < 1 || slot > kSlots)
    outOfRange("ImageStore", x, y, channel, slot);
  return ((static_cast<size_t>(slot - 1) * height_ + (y - 1)) * width_ + (x - 1)) * 3 + channel;
}

uint8_t ImageBuffer::at(int x, int y, int channel, int slot) const { return data_[index(x, y, channel, slot)]; }

void ImageBuffer::set(int x, int y, int channel, int slot, uint8_t value) { data_[index(x, y, channel, slot)] = value; }

const uint8_t* ImageBuffer::row(int y, int slot) const { return &data_[index(1, y, 0, slot)]; }

uint8_t* ImageBuffer::row(int y, int slot) { return &data_[index(1, y, 0, slot)]; }

ResultLayers::ResultLayers(int width, int height) {
  if (width <= 0 || height <= 0 || static_cast<long long>(width) * height > kMaxPixels)
    throw std::length_error("result map dimensions out of range");
  width_ = width;
  height_ = height;
  for (int l = 1; l <= 18; ++l)
    if (!isUnusedLayer(l)) layers_[l] = std::make_unique<double[]>(cells());
}

ResultLayers::ResultLayers(const ResultLayers& other) : width_(other.width_), height_(other.height_) {
  for (int l = 1; l <= kLayerCount; ++l)
    if (other.layers_[l]) {
      layers_[l] = std::make_unique_for_overwrite<double[]>(cells());
      std::copy(other.layers_[l].get(), other.layers_[l].get() + cells(), layers_[l].get());
    }
}

void ResultLayers::prepareForOverwrite(int width, int height) {
  clearContourLayers();
  if (width == width_ && height == height_ && layers_[1]) return;
  if (width <= 0 || height <= 0 || static_cast<long long>(width) * height > kMaxPixels)
    throw std::length_error("result map dimensions out of range");
  width_ = width;
  height_ = height;
  for (int l = 1; l <= 18; ++l) {
    layers_[l].reset();
    if (!isUnusedLayer(l)) layers_[l] = std::make_unique_for_overwrite<double[]>(cells());
  }
}

ResultLayers& ResultLayers::operator=(const ResultLayers& other) {
  if (this != &other) {
    ResultLayers copy(other);
    *this = std::move(copy);
  }
  return *this;
}

bool ResultLayers::hasStorage(int layer) const {
  return layer >= 1 && layer <= kLayerCount && layers_[layer] != nullptr;
}

void ResultLayers::checkCell(int x, int y, int layer) const {
  if (x < 1 || x > width_ || y < 1 || y > height_ || layer < 1 || layer > kLayerCount)
    outOfRange("ResultMap", x, y, layer, 0);
}

double ResultLayers::at(int x, int y, int layer) const {
  checkCell(x, y, layer);
  const auto& l = layers_[layer];
  return l ? l[static_cast<size_t>(y - 1) * width_ + (x - 1)] : 0.0;
}

void ResultLayers::set(int x, int y, int layer, double value) {
  checkCell(x, y, layer);
  mutableLayer(layer)[static_cast<size_t>(y - 1) * width_ + (x - 1)] = value;
}

const double* ResultLayers::layer(int layer) const {
  if (layer < 1 || layer > kLayerCount) outOfRange("ResultMap layer", layer, 0, 0, 0);
  return layers_[layer].get();
}

double* ResultLayers::mutableLayer(int layer) {
  if (layer < 1 || layer > kLayerCount || empty()) outOfRange("ResultMap layer", layer, 0, 0, 0);
  if (isUnusedLayer(layer)) throw std::invalid_argument("ResultMap layers 6, 12 and 18 are never written");
  if (!layers_[layer]) layers_[layer] = std::make_unique<double[]>(cells());
  return layers_[layer].get();
}

void ResultLayers::clearContourLayers() {
  for (int l = 19; l <= 21; ++l) layers_[l].reset();
}

int32_t FitZoom(int32_t zoom, int width, int height) {
  const long long m = std::max(width, height);
  while (zoom > 1 && zoom * m >= 2001) --zoom;
  return std::max(zoom, 1);
}

void AppState::startNewSet() {
  CurrentSlot = 0;
  SetStarted = 0;
  SetBitsPerPixel = 0;
  ZoomFactor = 9;
  SlotLoaded.fill(false);
  SubtractNext.fill(false);
  IntensityMode = kModeMean;
}

void AppState::createImageSet(int width, int height) {
  ImageStore = ImageBuffer(width, height);
  SetWidth = width;
  SetHeight = height;
  ColouredPixelCount.fill(0);
}

void AppState::createResultMap() { ResultMap = ResultLayers(SetWidth, SetHeight); }

namespace {
void StartSelection(AppState& s) {
  s.SelectionLeft = 1;
  s.SelectionTop = 1;
  s.SelectionRight = std::min(s.SetWidth, 20);
  s.SelectionBottom = std::min(s.SetHeight, 20);
}
}  // namespace

void AppState::emptySet() {
  const int32_t mode = IntensityMode;
  startNewSet();
  IntensityMode = mode;
  ImageStore = ImageBuffer();
  ResultMap = ResultLayers();
  SetWidth = 0;
  SetHeight = 0;
  PendingRead = false;
  ColouredPixelCount.fill(0);
  Header = FileHeaderValues{};
  Circle = SphereCircle{};
  StartSelection(*this);
}

void AppState::replaceSetWith(AppState&& loaded) {
  ImageStore = std::move(loaded.ImageStore);
  PaletteTable = loaded.PaletteTable;
  SetStarted = loaded.SetStarted;
  SetWidth = loaded.SetWidth;
  SetHeight = loaded.SetHeight;
  SetBitsPerPixel = loaded.SetBitsPerPixel;
  CurrentSlot = loaded.CurrentSlot;
  SlotLoaded = loaded.SlotLoaded;
  SubtractNext = loaded.SubtractNext;
  PendingRead = false;
  ColouredPixelCount = loaded.ColouredPixelCount;
  ZoomFactor = loaded.ZoomFactor;
  Header = std::move(loaded.Header);
  Circle = SphereCircle{};
  StartSelection(*this);
}

}  // namespace ps

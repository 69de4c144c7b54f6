#include "state/app_state.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

namespace ps {

namespace {
// Largest image dimension the tool accepts; keeps a header field from asking for
// an absurd allocation (four slots of 3 bytes per pixel).
constexpr long long kMaxPixels = 1LL << 28;

std::atomic<uint64_t> g_pageBlockBytes{0};

[[noreturn]] void outOfRange(const char* what, int x, int y, int a, int b) {
  throw std::out_of_range(std::string(what) + " index out of range (" + std::to_string(x) + ", " +
                          std::to_string(y) + ", " + std::to_string(a) + ", " + std::to_string(b) + ")");
}
}  // namespace

PageBlock::PageBlock(size_t bytes) {
  if (bytes == 0) return;
  if (bytes >= (size_t{1} << 20)) {
    const size_t length = (bytes + 4095) & ~size_t{4095};
    void* p = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    data_ = static_cast<uint8_t*>(p);
    mapped_ = length;
  } else {
    data_ = static_cast<uint8_t*>(std::calloc(bytes, 1));
    if (!data_) throw std::bad_alloc();
  }
  size_ = bytes;
  g_pageBlockBytes.fetch_add(bytes, std::memory_order_relaxed);
}

PageBlock::~PageBlock() { release(); }

void PageBlock::release() noexcept {
  if (mapped_) munmap(data_, mapped_);
  else std::free(data_);
  data_ = nullptr;
  size_ = mapped_ = 0;
}

PageBlock::PageBlock(const PageBlock& other) : PageBlock(other.size_) {
  if (size_) std::memcpy(data_, other.data_, size_);
}

PageBlock& PageBlock::operator=(const PageBlock& other) {
  if (this != &other) *this = PageBlock(other);
  return *this;
}

PageBlock::PageBlock(PageBlock&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      mapped_(std::exchange(other.mapped_, 0)) {}

PageBlock& PageBlock::operator=(PageBlock&& other) noexcept {
  if (this != &other) {
    release();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    mapped_ = std::exchange(other.mapped_, 0);
  }
  return *this;
}

uint64_t PageBlock::totalAllocated() { return g_pageBlockBytes.load(std::memory_order_relaxed); }

ImageBuffer::ImageBuffer(int width, int height) {
  if (width <= 0 || height <= 0 || static_cast<long long>(width) * height > kMaxPixels)
    throw std::length_error("image dimensions out of range");
  data_ = PageBlock(static_cast<size_t>(width) * height * 3 * kSlots);
  width_ = width;
  height_ = height;
}

size_t ImageBuffer::index(int x, int y, int channel, int slot) const {
  if (x < 1 || x > width_ || y < 1 || y > height_ || channel < 0 || channel > 2 || slot < 1 || slot > kSlots)
    outOfRange("ImageStore", x, y, channel, slot);
  return ((static_cast<size_t>(slot - 1) * height_ + (y - 1)) * width_ + (x - 1)) * 3 + channel;
}

uint8_t ImageBuffer::at(int x, int y, int channel, int slot) const { return data_.data()[index(x, y, channel, slot)]; }

void ImageBuffer::set(int x, int y, int channel, int slot, uint8_t value) {
  data_.data()[index(x, y, channel, slot)] = value;
}

const uint8_t* ImageBuffer::row(int y, int slot) const { return data_.data() + index(1, y, 0, slot); }

uint8_t* ImageBuffer::row(int y, int slot) { return data_.data() + index(1, y, 0, slot); }

namespace {
void CheckMapSize(int width, int height) {
  if (width <= 0 || height <= 0 || static_cast<long long>(width) * height > kMaxPixels)
    throw std::length_error("result map dimensions out of range");
}
// The group (0, 1, 2) of a definition layer, -1 for the others.
int GroupOf(int layer) { return layer >= 1 && layer <= 17 && layer % 6 != 0 ? (layer - 1) / 6 : -1; }
}  // namespace

ResultLayers::ResultLayers(int width, int height) {
  CheckMapSize(width, height);
  width_ = width;
  height_ = height;
  for (auto& g : groups_) g = PageBlock(sizeof(double) * 5 * stride());
  point();
}

ResultLayers::ResultLayers(const ResultLayers& other)
    : width_(other.width_), height_(other.height_), groups_(other.groups_), contour_(other.contour_) {
  point();
}

ResultLayers& ResultLayers::operator=(const ResultLayers& other) {
  if (this != &other) *this = ResultLayers(other);
  return *this;
}

ResultLayers::ResultLayers(ResultLayers&& other) noexcept
    : width_(std::exchange(other.width_, 0)),
      height_(std::exchange(other.height_, 0)),
      groups_(std::move(other.groups_)),
      contour_(std::move(other.contour_)) {
  point();
  other.point();
}

ResultLayers& ResultLayers::operator=(ResultLayers&& other) noexcept {
  if (this != &other) {
    width_ = std::exchange(other.width_, 0);
    height_ = std::exchange(other.height_, 0);
    groups_ = std::move(other.groups_);
    contour_ = std::move(other.contour_);
    point();
    other.point();
  }
  return *this;
}

void ResultLayers::point() {
  ptr_.fill(nullptr);
  for (int g = 0; g < 3; ++g)
    if (!groups_[g].empty())
      for (int k = 0; k < 5; ++k)
        ptr_[6 * g + 1 + k] = reinterpret_cast<double*>(groups_[g].data()) + k * stride();
  for (int c = 0; c < 3; ++c)
    if (!contour_[c].empty()) ptr_[19 + c] = reinterpret_cast<double*>(contour_[c].data());
}

uint64_t ResultLayers::groupBytes(int width, int height) {
  const uint64_t cells = static_cast<uint64_t>(std::max(width, 0)) * std::max(height, 0);
  return sizeof(double) * 5 * ((cells + 7) & ~uint64_t{7});
}

uint64_t ResultLayers::bytesToAllocate(int width, int height, unsigned groups) const {
  const bool same = width == width_ && height == height_;
  uint64_t bytes = 0;
  for (int g = 0; g < 3; ++g)
    if ((groups >> g & 1) && (!same || groups_[g].empty())) bytes += groupBytes(width, height);
  return bytes;
}

void ResultLayers::prepareForOverwrite(int width, int height, unsigned groups) {
  CheckMapSize(width, height);
  clearContourLayers();
  const bool same = width == width_ && height == height_;
  width_ = width;
  height_ = height;
  for (int g = 0; g < 3; ++g) {
    if (!(groups >> g & 1)) {
      groups_[g] = PageBlock();
    } else if (!same || groups_[g].empty()) {
      groups_[g] = PageBlock();  // the old block goes before the new one is mapped
      groups_[g] = PageBlock(sizeof(double) * 5 * stride());
    }
  }
  point();
}

void ResultLayers::addGroups(unsigned groups) {
  if (empty()) throw std::logic_error("ResultMap has no size to add layers to");
  // Only the new groups' entries are written: a view may go on reading the
  // layers already there while others are added.
  for (int g = 0; g < 3; ++g)
    if ((groups >> g & 1) && groups_[g].empty()) {
      groups_[g] = PageBlock(sizeof(double) * 5 * stride());
      for (int k = 0; k < 5; ++k) ptr_[6 * g + 1 + k] = reinterpret_cast<double*>(groups_[g].data()) + k * stride();
    }
}

bool ResultLayers::hasStorage(int layer) const { return layer >= 1 && layer <= kLayerCount && ptr_[layer] != nullptr; }

void ResultLayers::checkCell(int x, int y, int layer) const {
  if (x < 1 || x > width_ || y < 1 || y > height_ || layer < 1 || layer > kLayerCount)
    outOfRange("ResultMap", x, y, layer, 0);
}

double ResultLayers::at(int x, int y, int layer) const {
  checkCell(x, y, layer);
  const double* l = ptr_[layer];
  return l ? l[static_cast<size_t>(y - 1) * width_ + (x - 1)] : 0.0;
}

void ResultLayers::set(int x, int y, int layer, double value) {
  checkCell(x, y, layer);
  mutableLayer(layer)[static_cast<size_t>(y - 1) * width_ + (x - 1)] = value;
}

const double* ResultLayers::layer(int layer) const {
  if (layer < 1 || layer > kLayerCount) outOfRange("ResultMap layer", layer, 0, 0, 0);
  return ptr_[layer];
}

double* ResultLayers::mutableLayer(int layer) {
  if (layer < 1 || layer > kLayerCount || empty()) outOfRange("ResultMap layer", layer, 0, 0, 0);
  if (isUnusedLayer(layer)) throw std::invalid_argument("ResultMap layers 6, 12 and 18 are never written");
  if (!ptr_[layer]) {
    if (const int g = GroupOf(layer); g >= 0) {
      addGroups(1u << g);
    } else {
      contour_[layer - 19] = PageBlock(sizeof(double) * cells());
      ptr_[layer] = reinterpret_cast<double*>(contour_[layer - 19].data());
    }
  }
  return ptr_[layer];
}

void ResultLayers::clearContourLayers() {
  for (auto& c : contour_) c = PageBlock();
  point();
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

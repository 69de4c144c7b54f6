// The one shared state of the application: the image set of four slots, the
// palette, the per-pixel result map, the current-pixel values, the loading
// flags, the detection settings and the sphere circle. Every computation takes
// this object (or the parts it needs) explicitly, so nothing depends on a window.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ps {

// The circle constant as the system uses it everywhere, and the values derived from it.
inline constexpr double kPi = 3.14159;
inline constexpr double kTwoPi = 6.28318;
inline constexpr double kUndefinedMarker = 9.42477;  // 3 x kPi: ellipticity undefined
inline constexpr double kCircularAngle = 0.7854;     // ellipticity angle of undefined/unpolarized pixels

inline constexpr int kSlots = 4;  // slot 1 = 0 deg, 2 = 45 deg, 3 = 90 deg, 4 = 135 deg

// Memory for the large arrays of the set. Blocks of 1 MiB and more are mapped
// straight from the kernel, so they arrive zero-filled without a pass over them
// and their pages are only touched (and zeroed by the kernel) by the thread that
// first writes them; a block that is overwritten anyway costs no memset.
// Smaller blocks come from the heap. Copies are deep.
//
// Transparent huge pages are not requested: on the 2-core virtual machine the
// tool is measured on, faulting the layers of a 5-megapixel set in as 2 MiB
// pages took 1.5-2.5 s of system time against 0.3-0.4 s in 4 KiB pages.
class PageBlock {
 public:
  PageBlock() = default;
  explicit PageBlock(size_t bytes);  // zero-filled; throws std::bad_alloc
  ~PageBlock();
  PageBlock(const PageBlock& other);
  PageBlock& operator=(const PageBlock& other);
  PageBlock(PageBlock&& other) noexcept;
  PageBlock& operator=(PageBlock&& other) noexcept;

  uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return data_ == nullptr; }

  // Bytes obtained by all blocks of the process so far (never decreases): lets a
  // test see whether an operation allocated anything.
  static uint64_t totalAllocated();

 private:
  void release() noexcept;
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t mapped_ = 0;  // length of the mapping; 0 for a heap block
};

// Four source images: bytes by column x 1..width, row y 1..height (y = 1 is the
// top row), channel 0..2 (red, green, blue; for 8-bit files channel 0 holds the
// palette index) and slot 1..4. Stored slot by slot, row by row, three bytes a
// pixel, so a row of one slot is contiguous. Access outside the bounds throws
// std::out_of_range and touches nothing.
class ImageBuffer {
 public:
  ImageBuffer() = default;
  ImageBuffer(int width, int height);  // zero-filled; throws std::length_error on absurd sizes

  int width() const { return width_; }
  int height() const { return height_; }
  bool empty() const { return data_.empty(); }

  uint8_t at(int x, int y, int channel, int slot) const;
  void set(int x, int y, int channel, int slot, uint8_t value);

  // Row y (1-based) of a slot: width() pixels of 3 bytes (R, G, B).
  const uint8_t* row(int y, int slot) const;
  uint8_t* row(int y, int slot);

 private:
  size_t index(int x, int y, int channel, int slot) const;
  int width_ = 0;
  int height_ = 0;
  PageBlock data_;
};

// The per-pixel result map: doubles by column 1..width, row 1..height and layer
// 1..21. Layers 6, 12 and 18 are never written and take no memory (they read 0).
// The five layers of each intensity definition (1-5, 7-11, 13-17) share one
// block that exists only once that definition is processed, so a command that
// needs one definition holds a third of the memory; the contour layers 19..21
// take memory only once they are first written. Each layer is stored row by row
// (row y = 1 first).
class ResultLayers {
 public:
  static constexpr int kLayerCount = 21;

  ResultLayers() = default;
  ResultLayers(int width, int height);  // layers 1-5, 7-11, 13-17 zero-filled

  int width() const { return width_; }
  int height() const { return height_; }
  bool empty() const { return width_ == 0; }

  static bool isUnusedLayer(int layer) { return layer == 6 || layer == 12 || layer == 18; }
  static bool isContourLayer(int layer) { return layer >= 19 && layer <= 21; }
  bool hasStorage(int layer) const;

  double at(int x, int y, int layer) const;
  void set(int x, int y, int layer, double value);

  // Whole layer, row-major, width*height values; nullptr when the layer has no storage.
  const double* layer(int layer) const;
  // Writable layer, allocating (zero-filled) the layer's group or contour layer on
  // first use; throws for 6, 12, 18.
  double* mutableLayer(int layer);

  // Drops the contour layers 19..21 (they read 0 again).
  void clearContourLayers();

  // Makes the map width x height with storage for exactly the groups whose first
  // layers (1, 7, 13) are flagged in `groups` (bit 0 = layers 1-5, bit 1 = 7-11,
  // bit 2 = 13-17), for a caller that writes every cell of them next. Blocks of
  // a map of the same size are kept with their content; other groups are
  // dropped; the contour layers are dropped.
  void prepareForOverwrite(int width, int height, unsigned groups = 7);
  // Gives the map storage for the flagged groups it lacks, keeping everything
  // else (the groups present and the contour layers) untouched.
  void addGroups(unsigned groups);
  // Bytes prepareForOverwrite(width, height, groups) or addGroups would newly allocate.
  uint64_t bytesToAllocate(int width, int height, unsigned groups) const;
  // Bytes of one group of five layers for a width x height map.
  static uint64_t groupBytes(int width, int height);

 private:
  void checkCell(int x, int y, int layer) const;
  void point();  // recomputes layer pointers from the blocks
  size_t cells() const { return static_cast<size_t>(width_) * height_; }
  // Cells between the starts of two layers of a group: rounded up to 64 bytes.
  size_t stride() const { return (cells() + 7) & ~static_cast<size_t>(7); }
  int width_ = 0;
  int height_ = 0;
  std::array<PageBlock, 3> groups_{};   // layers 1-5, 7-11, 13-17
  std::array<PageBlock, 3> contour_{};  // layers 19, 20, 21
  std::array<double*, kLayerCount + 1> ptr_{};

 public:
  ResultLayers(const ResultLayers& other);
  ResultLayers& operator=(const ResultLayers& other);
  ResultLayers(ResultLayers&& other) noexcept;
  ResultLayers& operator=(ResultLayers&& other) noexcept;
};

// 256 entries x (red, green, blue), single precision, 0..255.
using Palette = std::array<std::array<float, 3>, 256>;

// Header values of the most recently opened file.
struct FileHeaderValues {
  std::string FilePath;
  std::string FileSignature;  // first two bytes; "BM" for an accepted file
  int32_t FileSizeField = 0;
  int32_t PixelDataOffset = 0;
  int32_t InfoHeaderSize = 0;
  int32_t ImageWidth = 0;
  int32_t ImageHeight = 0;
  int32_t BitsPerPixel = 0;
  int32_t CompressionCode = 0;
  uint8_t RowPadding = 0;
  int32_t RowLength = 0;
  bool TopDown = false;  // negative height in the file: the first stored row is the top row
};

// Results of one pixel under one intensity definition.
struct PixelValues {
  double A0 = 0;
  double A2 = 0;
  double B2 = 0;
  float Amplitude = 0;
  double AxisRatio = 0;
  double EllipticityAngle = 0;
  double Azimuth = 0;
  double UndefinedMarker = 0;
};

// The kernels every session starts with, in the window, the toning, the
// learning, the exports and every command alike: the preset "Гауссовское
// распределение без центра" and 100 % subtracted at the centre. Defined with
// the presets in sphere/detection_settings.cpp.
std::array<std::array<float, 5>, 5> StartWeightKernel();
std::array<std::array<float, 5>, 5> StartSubtractKernel();

// Settings of the detection settings window: kernels in percent (row, column),
// stored 0-based here: WeightKernel[r-1][c-1] is the window's (r, c).
struct DetectionSettings {
  std::array<std::array<float, 5>, 5> WeightKernel = StartWeightKernel();
  std::array<std::array<float, 5>, 5> SubtractKernel = StartSubtractKernel();
  double EllipticitySensitivity = 1.0;
  double AzimuthSensitivity = 1.0;
  double RotationLimit = 0.0;        // radians
  double RotationChangeLimit = 0.0;  // radians
  double DiameterDeviationLimit = 0.5;
  int32_t ShowMode = 0;              // 0 intensity, 1 change of polarization
};

// The calibration sphere's circle in map cells (1-based); radius 0 = no circle yet.
struct SphereCircle {
  double CircleCentreX = 0;
  double CircleCentreY = 0;
  double CircleRadius = 0;
  bool exists() const { return CircleRadius != 0; }
};

// Intensity definitions as IntensityMode values.
enum IntensityModeValue : int32_t { kModeMean = 4, kModeMax = 5, kModeLuma = 6 };

struct AppState {
  // Image set.
  ImageBuffer ImageStore;
  Palette PaletteTable{};
  int32_t SetStarted = 0;
  int32_t SetWidth = 0;
  int32_t SetHeight = 0;
  int32_t SetBitsPerPixel = 0;  // 8 or 24, fixed by the first file of the set; 0 while there is none
  int32_t CurrentSlot = 0;
  std::array<bool, kSlots> SlotLoaded{};
  std::array<bool, kSlots> SubtractNext{};
  bool PendingRead = false;
  std::array<int32_t, kSlots> ColouredPixelCount{};
  int32_t ZoomFactor = 9;

  FileHeaderValues Header;

  // Which definition the layer lookup serves (4 mean, 5 max, 6 luma; others as 5).
  int32_t IntensityMode = kModeMean;

  ResultLayers ResultMap;

  // Current-pixel working values.
  std::array<double, kSlots> PixelIntensity{};
  PixelValues Current;

  // Selection of the map view (cells, 1-based).
  int32_t SelectionLeft = 1;
  int32_t SelectionTop = 1;
  int32_t SelectionRight = 1;
  int32_t SelectionBottom = 1;

  DetectionSettings Detection;
  SphereCircle Circle;

  // Start a new, empty set (analysis window start-up).
  void startNewSet();
  // Create the image set for the first image: zero-filled store, SetWidth/SetHeight.
  void createImageSet(int width, int height);
  // Create the result map: SetWidth x SetHeight x 21, zero-filled.
  void createResultMap();
  bool setComplete() const { return SlotLoaded[0] && SlotLoaded[1] && SlotLoaded[2] && SlotLoaded[3]; }
  bool anySlotLoaded() const { return SlotLoaded[0] || SlotLoaded[1] || SlotLoaded[2] || SlotLoaded[3]; }

  // Empties the set so that one of any size and depth can be opened: no slot
  // loaded, no dimensions, the image store, result map, header values and
  // sphere circle released. The intensity definition and the detection
  // settings are the user's and stay.
  void emptySet();
  // Replaces the whole set by the one loaded into `loaded` (image store,
  // palette, flags, header values, zoom); the circle of the old set is dropped
  // and the selection starts again. The result map is left for the next
  // processing, which rebuilds it.
  void replaceSetWith(AppState&& loaded);
};

// Zoom for a set of the given size starting from `zoom`: lowered one by one while
// zoom * max(width, height) >= 2001, never below 1.
int32_t FitZoom(int32_t zoom, int width, int height);

}  // namespace ps

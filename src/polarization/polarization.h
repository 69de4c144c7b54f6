// Intensity definitions, the polarization parameters of one pixel, the layer
// lookup and the processing of a whole image set into the result map.
#pragma once

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "state/app_state.h"
#include "state/message.h"
#include "state/progress.h"

namespace ps {

enum class Definition { Max, Mean, Luma };

// First result layer of a definition: max 1, mean 7, luma 13.
int FirstLayer(Definition d);
// The definition an IntensityMode value serves (4 mean, 6 luma, anything else max).
Definition DefinitionForMode(int32_t intensityMode);
// Short names used in files and on the command line: "max", "mean", "luma".
const char* DefinitionName(Definition d);
bool ParseDefinition(const std::string& name, Definition* out);
int32_t ModeForDefinition(Definition d);

// Intensity of one pixel from its red, green and blue values, in the summation
// order the results depend on.
inline double IntensityOf(Definition d, double r, double g, double b) {
  switch (d) {
    case Definition::Mean: return (g + r + b) / 3;
    case Definition::Luma: return 0.587 * g + 0.299 * r + 0.114 * b;
    default: return std::max(std::max(r, g), b);
  }
}

// Intensity of pixel (x, y) of slot k (1-based) under definition d: 24-bit sets
// read the channels, 8-bit sets the palette colour of the index in channel 0.
double Intensity(const AppState& state, Definition d, int x, int y, int slot);

// The polarization parameters of one pixel from its four intensities
// (0, 45, 90, 135 degrees).
PixelValues Вычисление_a0_a2_b2(const std::array<double, 4>& intensity);

// The layer lookup: the stored results of pixel (x, y) under the definition that
// IntensityMode selects. A0, AxisRatio, EllipticityAngle, Azimuth and
// UndefinedMarker are filled; A2, B2 and Amplitude are 0. Throws
// std::out_of_range for a pixel outside the map, when no map exists or when the
// selected definition has not been processed.
PixelValues ОпределениеИнтенсивностей(const AppState& state, int x, int y);
// The same, also writing the current-pixel values of the state.
void ОпределениеИнтенсивностей(AppState& state, int x, int y);

// Sets of definitions as bit masks.
enum DefinitionBits : unsigned { kMaxBit = 1, kMeanBit = 2, kLumaBit = 4, kAllDefinitions = 7 };
unsigned DefinitionBit(Definition d);
// Definitions whose layers the map holds.
unsigned ProcessedDefinitions(const ResultLayers& map);

struct ProcessOptions {
  int threads = 0;                         // 0: all cores
  unsigned definitions = kAllDefinitions;  // the definitions to compute
  // false: recreate the map with only `definitions` (the contour layers are
  // dropped). true: add `definitions` to the map of the same set, leaving the
  // definitions already there and the contour layers untouched; a window can
  // show the chosen definition while the other two are added, as long as
  // nothing reads the added layers before this returns.
  bool addToMap = false;
  // Memory the machine has available, in bytes; unset: MemAvailable of /proc/meminfo.
  std::optional<uint64_t> availableMemory;
  // false: the values are computed block by block and only summed (see
  // ProcessOutcome::sums); the map is left empty. For a caller that needs the
  // totals but not the layers, it spares allocating and touching eight bytes per
  // value.
  bool keepLayers = true;
  // Whether to fill ProcessOutcome::sums (always done when the layers are not kept).
  bool sumLayers = false;
};

// Totals of one definition's layers over the whole set: each row is summed from
// left to right and the row sums are added from the top row down, so the totals
// do not depend on the thread count.
struct DefinitionSums {
  double a0 = 0, axisRatio = 0, azimuth = 0;
  uint64_t undefinedPixels = 0;  // pixels whose marker is set
};

struct ProcessOutcome {
  bool complete = false;          // false: refused or cancelled
  std::vector<Message> messages;  // the refusal for lack of memory
  uint64_t neededBytes = 0;       // memory the processing had to allocate
  uint64_t availableBytes = 0;    // memory the machine had available (0: unknown)
  // Per definition (max, mean, luma), for the definitions computed by a complete run.
  std::array<DefinitionSums, 3> sums{};
};

// Set processing: fills layers 1-5, 7-11 and 13-17 of the definitions asked for,
// on several threads; the stored values do not depend on the thread count or on
// which definitions are computed together. Before allocating, the memory the map
// needs is compared with what the machine has available; a set that does not fit
// is refused with a message stating both and leaves no map. A cancelled
// processing leaves an incomplete map that has to be processed again.
ProcessOutcome ProcessSet(AppState& state, const ProcessOptions& options = {}, const Progress& progress = {});

// Whether the processing computes anything: the last file checked starts with
// "BM", has 8 or 24 bits per pixel, and the image store has the set's size.
// Otherwise the processing leaves the map at 0.
bool SetIsProcessable(const AppState& state);

// All three definitions. Returns false when cancelled or refused.
bool ЗаполнениеМассива(AppState& state, const Progress& progress = {}, int threads = 0);

// The same loop on one thread, pixel by pixel in column order, kept as the
// reference the parallel version is measured and tested against.
void ЗаполнениеМассиваReference(AppState& state);

// MemAvailable of /proc/meminfo in bytes; 0 when it cannot be read.
uint64_t AvailableMemoryBytes();

// "Недостаточно памяти ..." naming the set's size and both figures in MB.
Message NotEnoughMemoryMessage(int width, int height, uint64_t needed, uint64_t available);

}  // namespace ps

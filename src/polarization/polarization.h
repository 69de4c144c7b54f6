// Intensity definitions, the polarization parameters of one pixel, the layer
// lookup and the processing of a whole image set into the result map.
#pragma once

#include <array>

#include "state/app_state.h"
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
double IntensityOf(Definition d, double r, double g, double b);

// Intensity of pixel (x, y) of slot k (1-based) under definition d: 24-bit sets
// read the channels, 8-bit sets the palette colour of the index in channel 0.
double Intensity(const AppState& state, Definition d, int x, int y, int slot);

// The polarization parameters of one pixel from its four intensities
// (0, 45, 90, 135 degrees).
PixelValues Вычисление_a0_a2_b2(const std::array<double, 4>& intensity);

// The layer lookup: the stored results of pixel (x, y) under the definition that
// IntensityMode selects. A0, AxisRatio, EllipticityAngle, Azimuth and
// UndefinedMarker are filled; A2, B2 and Amplitude are 0. Throws
// std::out_of_range for a pixel outside the map or when no map exists.
PixelValues ОпределениеИнтенсивностей(const AppState& state, int x, int y);
// The same, also writing the current-pixel values of the state.
void ОпределениеИнтенсивностей(AppState& state, int x, int y);

// Set processing: recreates ResultMap and fills layers 1-5, 7-11 and 13-17.
// Runs over columns on `threads` threads (0 = all cores); the stored values do
// not depend on the thread count. Returns false when cancelled; the map is then
// incomplete and the set has to be processed again before it is shown.
bool ЗаполнениеМассива(AppState& state, const Progress& progress = {}, int threads = 0);

// The same loop on one thread, pixel by pixel in column order, kept as the
// reference the parallel version is measured and tested against.
void ЗаполнениеМассиваReference(AppState& state);

}  // namespace ps

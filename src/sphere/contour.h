// The contour response of the intensity image: a map that is strongly negative
// along sharp, locally strongest intensity edges such as the outline of the
// calibration sphere. It writes the working layers 19 (response), 20 (flattened
// intensity, only with autocontrast) and 21 (edge magnitude) of the result map,
// and tells the map drawing which cells are contour points and in what colour.
#pragma once

#include <array>
#include <cstdint>

#include "state/app_state.h"
#include "state/progress.h"

namespace ps {

// Colours as red + 256 * green + 65536 * blue (no palette flag).
constexpr uint32_t SphereRgb(int r, int g, int b) {
  return static_cast<uint32_t>(r) + 256u * static_cast<uint32_t>(g) + 65536u * static_cast<uint32_t>(b);
}

// The three constant 17 x 17 masks, indexed [a - 1][b - 1] with a = x offset + 9,
// b = y offset + 9: two edge templates (+1 / -1 half discs of radius 3.5 either
// side of a one-cell centre line; Edge1 across the rows, Edge2 across the
// columns) and the disc of rings 1 (outermost) .. 7 (core).
struct ContourMasks {
  std::array<std::array<int16_t, 17>, 17> Edge1{};
  std::array<std::array<int16_t, 17>, 17> Edge2{};
  std::array<std::array<int16_t, 17>, 17> Disc{};
};
ContourMasks BuildContourMasks();

// The response of image V (row-major, V[(y-1)*IW + (x-1)], IW x IH) into the
// three output layers (same layout). layer20 is written only when `autocontrast`
// is set (it may then not be null). Reads outside the image use the nearest
// pixel inside it. Runs on `threads` threads (0 = all cores); every value is
// bit-identical to ContourResponseReference. Returns false when cancelled (the
// layers are then partly written).
bool ContourResponse(const double* V, int IW, int IH, bool autocontrast, double* layer19, double* layer20,
                     double* layer21, const Progress& progress = {}, int threads = 0);

// The same, pixel by pixel with clamped reads in the plain summation order; the
// reference the fast version is tested and measured against.
void ContourResponseReference(const double* V, int IW, int IH, bool autocontrast, double* layer19, double* layer20,
                              double* layer21);

// The "Контур" command's computation on the shared state: V is the intensity
// layer IntensityMode selects (7 mean, 13 luma, 1 otherwise); writes layers 19,
// 21 and (with autocontrast) 20 of ResultMap. Returns false when there is no
// result map or the run was cancelled.
bool ContourResponse(AppState& state, bool autocontrast, const Progress& progress = {});

// How the map draws cell (x, y) after the contour command.
struct ContourPointStyle {
  bool drawn = false;         // false: leave the cell as it is
  bool contourPoint = false;  // a local crest of the response
  uint32_t colour = 0;        // SphereRgb form
};

// Classification and colour of cell (x, y) (1-based) from layer 19 (and layer 1
// for the colour without the image): a positive response is not drawn; a cell
// off the border whose 3 x 3 neighbourhood has more than 5 cells of smaller
// |response| is a contour point unless `autocontrast` ("Автоконтраст") is set.
// `withImage` is the "контур + изобранение" box. Cells outside the map, or a
// map without layer 19, give "not drawn".
ContourPointStyle ContourPointColour(const ResultLayers& map, int x, int y, bool autocontrast, bool withImage);

}  // namespace ps

// Drawing of the analysis window's pictures: the four zoomed source views, the
// polarization map (intensity or change of polarization) with the grid and the
// polarization ellipses, the ellipse preview, the sphere circle and the marks.
#pragma once

#include "display/surface.h"
#include "display/view_state.h"
#include "state/app_state.h"

namespace ps {

// HSV colour of a polarization state: hue from the azimuth, saturation and value
// from the axis ratio, computed in single precision. An out-of-range hue sector
// reuses the components of the previous conversion (kept in `previous`).
// The result carries kPaletteFlag.
Colour ЦветДляЭллипса(double axisRatio, double azimuth, EllipseColourMemory& previous);

// Colour of a cell of the change map ("Изменение поляризации"): red from the
// weighted change of the axis ratio `sumE`, green from that of the azimuth
// `sumA` (both radians), each scaled by its sensitivity; violet where the
// polarization is undefined. The result carries kPaletteFlag.
Colour ChangeMapColour(double sumE, double sumA, double ellipticitySensitivity, double azimuthSensitivity,
                       bool undefined);

// Screen rectangle of cell (i, j), both corners included.
struct CellRect {
  int X1, Y1, X2, Y2;
};
CellRect CellRectangle(int i, int j, int zoom, int inset);

// Read access to the five result layers the layer lookup serves for the
// current intensity definition, straight from the result map.
struct PixelLayers {
  const double* A0 = nullptr;
  const double* AxisRatio = nullptr;
  const double* EllipticityAngle = nullptr;
  const double* Azimuth = nullptr;
  const double* UndefinedMarker = nullptr;
  int Width = 0;
  int Height = 0;

  explicit PixelLayers(const AppState& state);
  size_t index(int x, int y) const { return static_cast<size_t>(y - 1) * Width + (x - 1); }
};

// The ellipse part of one cell (cell column x, row y, 1-based) for a defined
// pixel: start point, then the outline (zoom above 2) or the filled cell.
void DrawEllipseGlyph(Surface& s, int x, int y, int zoom, int inset, double axisRatio, double azimuth,
                      EllipseColourMemory& memory);

// The preview ellipse of the pixel under the mouse on a square picture, in
// black. Returns false when the tracing stopped because a vertex fell outside
// the major axis (the readout then empties the angle labels).
bool DrawPreviewEllipse(Surface& preview, double& axisRatio, double azimuth, double undefinedMarker);

// The map redraw: lays the map out, paints every cell (intensity or change
// map), the ellipses, places the selection marker and draws the sphere circle
// when it is known. `map` is resized to the map picture.
void UvelicheniePolyarizacii(Surface& map, DisplayState& ds, AppState& state);

// Redraw of the zoomed source view of a slot (1..4) into `picture`.
void Uvelichenie(Surface& picture, DisplayState& ds, const AppState& state, int slot);

// Sphere circle on the map, RGB(0, 200, 0) unless another colour is given.
// With `centreMark` the small filled square at the centre is drawn too.
inline constexpr Colour kSphereCircleColour = Rgb(0, 200, 0) | kPaletteFlag;
void DrawSphereCircle(Surface& map, int zoom, const SphereCircle& circle, Colour colour = kSphereCircleColour,
                      bool centreMark = false);

// The selection marker as an outline in its pulse colour, for a window that
// paints it over the map instead of using a separate shape.
void DrawSelectionMarker(Surface& s, const DisplayState& ds);

// A filled square covering map cell (x, y) (a single point at zoom 1).
void DrawCellMark(Surface& map, int zoom, int x, int y, Colour colour);

}  // namespace ps

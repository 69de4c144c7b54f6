// Toning of the virtual sphere: the polarization measured on the calibration
// sphere painted back onto a unit sphere seen from any direction, and the
// full-size copy of the map.
#pragma once

#include "display/surface.h"
#include "display/view_state.h"
#include "state/app_state.h"
#include "state/progress.h"

namespace ps {

inline constexpr Colour kToningBackground = Rgb(225, 225, 225);

// Viewing state of the statistics window used by the toning.
struct ToningView {
  double RotationX = 45 * kPi / 180;  // radians
  double RotationY = 0;
  double RotationZ = 0;
  double ToningScale = 0.009;  // sphere units per screen pixel
  bool Ellipses = false;       // the analysis window's "Эллипсы поляризации"
};

// Where the ray of one screen pixel meets the visible half of the sphere.
struct SphereHit {
  bool Hit = false;  // false: the ray misses, or meets the far (unseen) half first
  double X = 0, Y = 0, Z = 0;
};

// Casts the ray of the screen point (x, z), relative to the picture centre, in
// screen pixels. Rays without extent along y (looking along the camera axis)
// are intersected in the ray's own parameter and take the point nearer the viewer.
SphereHit CastToningRay(const ToningView& view, double x, double z);

// Tones one screen pixel (cellX, cellY) of `left` (the pixel's own values) and
// `right` (the weighted neighbourhood); both pictures have the same size.
// Points of the sphere whose image pixel lies outside the set are skipped.
void Тонирование(const AppState& state, const ToningView& view, int cellX, int cellY, Surface& left,
                 Surface& right, EllipseColourMemory& memory);

// The toning sweep over every pixel of the pictures, which are cleared to the
// background first. Returns false when cancelled.
bool ToningSweep(const AppState& state, const ToningView& view, Surface& left, Surface& right,
                 const Progress& progress = {});

// The full-size window: its outer size for a map of the given size, and the copy.
struct WindowSize {
  int Width, Height;
};
WindowSize FullSizeWindow(int mapWidth, int mapHeight);
// The full-size window's inside on a screen whose available area is
// availableWidth x availableHeight (outer size, border and caption included):
// the whole map when its outer size fits, else as much as fits, with a scroll
// bar `scrollBar` pixels wide along each side that is cut (a bar along one
// side can make the other one needed too).
struct FullSizeLayout {
  int Width = 0, Height = 0;  // inside of the window
  bool HScroll = false, VScroll = false;
};
FullSizeLayout FitFullSizeWindow(int mapWidth, int mapHeight, int availableWidth, int availableHeight,
                                 int scrollBar);
void FullSizeCopy(const Surface& map, Surface& copy);

}  // namespace ps

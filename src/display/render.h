// Whole pictures as the windows show them, for batch figures and tests: the
// polarization map with its overlays, and the two toning pictures side by side.
#pragma once

#include "display/surface.h"
#include "display/toning.h"
#include "display/view_state.h"
#include "state/app_state.h"

namespace ps {

struct MapRenderOptions {
  bool Grid = false;
  bool Ellipses = false;
  bool ShowCircle = false;  // draw state.Circle as the map redraw does once a circle is known
};

// The map redraw on a fresh DisplayState at the state's zoom and settings.
RasterSurface RenderMap(AppState& state, const MapRenderOptions& options);

// Toning picture size of the statistics window.
inline constexpr int kToningWidth = 297;
inline constexpr int kToningHeight = 244;
inline constexpr int kToningGap = 8;  // window background between the two pictures

// Both toning pictures, left and right, separated by a gap of white.
RasterSurface RenderToningPair(const AppState& state, const ToningView& view, int width = kToningWidth,
                               int height = kToningHeight);

}  // namespace ps

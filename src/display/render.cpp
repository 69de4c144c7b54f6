#include "display/render.h"

#include <cstring>

#include "display/map_view.h"

namespace ps {

RasterSurface RenderMap(AppState& state, const MapRenderOptions& options) {
  DisplayState ds;
  ds.Grid = options.Grid;
  ds.Ellipses = options.Ellipses;
  ds.SphereButtonVisible = options.ShowCircle && state.Circle.exists();
  RasterSurface map;
  UvelicheniePolyarizacii(map, ds, state);
  return map;
}

RasterSurface RenderToningPair(const AppState& state, const ToningView& view, int width, int height) {
  RasterSurface left(width, height, kToningBackground), right(width, height, kToningBackground);
  ToningSweep(state, view, left, right);
  RasterSurface pair(2 * width + kToningGap, height, Rgb(255, 255, 255));
  const size_t rowBytes = static_cast<size_t>(width) * 3;
  for (int y = 0; y < height; ++y) {
    uint8_t* dst = pair.data() + static_cast<size_t>(y) * pair.stride();
    std::memcpy(dst, left.data() + static_cast<size_t>(y) * left.stride(), rowBytes);
    std::memcpy(dst + rowBytes + kToningGap * 3, right.data() + static_cast<size_t>(y) * right.stride(), rowBytes);
  }
  return pair;
}

}  // namespace ps

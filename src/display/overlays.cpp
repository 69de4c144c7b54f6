#include "display/overlays.h"

#include "display/map_view.h"
#include "sphere/contour.h"

namespace ps {

long long DrawContour(Surface& map, const AppState& state, bool autocontrast, bool withImage) {
  const ResultLayers& m = state.ResultMap;
  if (m.empty() || !m.layer(19)) return 0;
  const int s = state.ZoomFactor;
  long long drawn = 0;
  for (int x = 1; x <= m.width(); ++x)
    for (int y = 1; y <= m.height(); ++y) {
      const ContourPointStyle style = ContourPointColour(m, x, y, autocontrast, withImage);
      if (!style.drawn) continue;
      DrawCellMark(map, s, x, y, style.colour | kPaletteFlag);
      ++drawn;
    }
  return drawn;
}

void DrawMapMarks(Surface& map, const std::vector<MapMark>& marks) {
  for (const MapMark& mark : marks) {
    const Colour c = mark.colour | kPaletteFlag;
    if (mark.kind == MarkKind::FilledRect)
      map.fillRect(RoundHalfEven(mark.left), RoundHalfEven(mark.top), RoundHalfEven(mark.right),
                   RoundHalfEven(mark.bottom), c);
    else
      map.circle(mark.centreX, mark.centreY, mark.radius, c);
  }
}

}  // namespace ps

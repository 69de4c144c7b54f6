// Drawings that other commands put on the map's persistent picture: the contour
// points of the "Контур" command and the marks of a press on the map (trace
// cells, manual points, the fitted circle).
#pragma once

#include <vector>

#include "display/surface.h"
#include "sphere/press.h"
#include "state/app_state.h"

namespace ps {

// Draws every pixel the contour classification asks for, as a square of the
// zoom (a single point at zoom 1), column by column. Returns the number drawn.
long long DrawContour(Surface& map, const AppState& state, bool autocontrast, bool withImage);

// Draws the marks of a map press in order.
void DrawMapMarks(Surface& map, const std::vector<MapMark>& marks);

}  // namespace ps

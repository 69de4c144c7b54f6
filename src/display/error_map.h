// The error map of the learned height: target h, output y and the signed error
// y - h of every inside cell, three panels side by side over the circle's
// bounding square, each with its colour scale and labelled ends, drawn on a
// raster surface (the window shows it, the command-line tool writes it as PNG).
#pragma once

#include <vector>

#include "display/surface.h"
#include "learning/evaluation.h"
#include "state/app_state.h"

namespace ps {

// Colours of the panels: heights 0..1 as grey from black to white (clamped);
// an error e as white at 0, turning red for e > 0 and blue for e < 0, full at
// |e| >= limit.
Colour HeightGrey(double h);
Colour ErrorColour(double e, double limit);

// The error scale's end: the largest |y - h| rounded up to a multiple of 0.05,
// at least 0.05.
double ErrorScaleLimit(const std::vector<HeightCell>& cells);

struct ErrorMapLayout {
  int cellPixels = 1;             // screen pixels per cell side
  int panelSide = 0;              // pixels of one square panel
  int panelLeft[3] = {0, 0, 0};   // left edge of the h, y and y - h panels
  int panelTop = 0;
  double limit = 0.05;            // ends of the error scale: -limit .. +limit
  int x0 = 0, y0 = 0;             // cell shown at the panels' top left corner
};

// Layout for a circle: panels about `targetPanel` pixels wide (whole pixels per
// cell, at least 1).
ErrorMapLayout LayoutErrorMap(const SphereCircle& circle, const std::vector<HeightCell>& cells, int targetPanel = 220);

// Draws the three panels; cells outside the circle keep the light grey of the
// panel's background.
RasterSurface DrawErrorMap(const SphereCircle& circle, const std::vector<HeightCell>& cells, int targetPanel = 220);

}  // namespace ps

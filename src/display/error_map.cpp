#include "display/error_map.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace ps {

namespace {

constexpr int kMargin = 10;
constexpr int kGlyphScale = 2;                // font pixels are 2 x 2 screen pixels
constexpr int kTextHeight = 5 * kGlyphScale;  // glyphs are 3 x 5
constexpr int kBarHeight = 12;
const Colour kWhite = Rgb(255, 255, 255);
const Colour kOutside = Rgb(225, 225, 225);
const Colour kInk = Rgb(0, 0, 0);

// 3 x 5 glyphs, one row of three bits per line (bit 2 = left pixel).
struct Glyph {
  char c;
  unsigned char rows[5];
};
constexpr Glyph kGlyphs[] = {
    {'0', {7, 5, 5, 5, 7}}, {'1', {2, 6, 2, 2, 7}}, {'2', {7, 1, 7, 4, 7}}, {'3', {7, 1, 7, 1, 7}},
    {'4', {5, 5, 7, 1, 1}}, {'5', {7, 4, 7, 1, 7}}, {'6', {7, 4, 7, 5, 7}}, {'7', {7, 1, 1, 1, 1}},
    {'8', {7, 5, 7, 5, 7}}, {'9', {7, 5, 7, 1, 7}}, {'-', {0, 0, 7, 0, 0}}, {'+', {0, 2, 7, 2, 0}},
    {'.', {0, 0, 0, 0, 2}}, {',', {0, 0, 0, 2, 4}}, {'h', {4, 4, 7, 5, 5}}, {'y', {5, 5, 7, 1, 7}},
    {' ', {0, 0, 0, 0, 0}}};

int TextWidth(const std::string& text) {
  return text.empty() ? 0 : static_cast<int>(text.size()) * 4 * kGlyphScale - kGlyphScale;
}

void DrawText(RasterSurface& s, int left, int top, const std::string& text) {
  int x = left;
  for (char c : text) {
    for (const Glyph& g : kGlyphs) {
      if (g.c != c) continue;
      for (int row = 0; row < 5; ++row)
        for (int col = 0; col < 3; ++col)
          if (g.rows[row] & (4 >> col))
            s.fillRect(x + col * kGlyphScale, top + row * kGlyphScale, x + col * kGlyphScale + kGlyphScale - 1,
                       top + row * kGlyphScale + kGlyphScale - 1, kInk);
    }
    x += 4 * kGlyphScale;
  }
}

std::string Decimal(double v, int decimals) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  std::string s = buf;
  if (s == "-0.00" || s == "-0.0") s.erase(0, 1);
  return s;
}

}  // namespace

Colour HeightGrey(double h) {
  const double v = std::clamp(std::isfinite(h) ? h : 0.0, 0.0, 1.0);
  const int g = static_cast<int>(std::lround(255 * v));
  return Rgb(g, g, g);
}

Colour ErrorColour(double e, double limit) {
  const double t = std::clamp(std::isfinite(e) && limit > 0 ? e / limit : 0.0, -1.0, 1.0);
  const int fade = static_cast<int>(std::lround(255 * (1 - std::fabs(t))));
  return t >= 0 ? Rgb(255, fade, fade) : Rgb(fade, fade, 255);
}

double ErrorScaleLimit(const std::vector<HeightCell>& cells) {
  double worst = 0;
  for (const HeightCell& c : cells)
    if (std::isfinite(c.error())) worst = std::max(worst, std::fabs(c.error()));
  return std::max(0.05, std::ceil(worst / 0.05 - 1e-9) * 0.05);
}

ErrorMapLayout LayoutErrorMap(const SphereCircle& circle, const std::vector<HeightCell>& cells, int targetPanel) {
  ErrorMapLayout l;
  l.x0 = static_cast<int>(std::floor(circle.CircleCentreX - circle.CircleRadius));
  l.y0 = static_cast<int>(std::floor(circle.CircleCentreY - circle.CircleRadius));
  const int side = static_cast<int>(std::floor(circle.CircleCentreX + circle.CircleRadius)) - l.x0 + 1;
  l.cellPixels = std::max(1, targetPanel / std::max(1, side));
  l.panelSide = std::max(1, side) * l.cellPixels;
  for (int p = 0; p < 3; ++p) l.panelLeft[p] = kMargin + p * (l.panelSide + kMargin);
  l.panelTop = kMargin + kTextHeight + 4;
  l.limit = ErrorScaleLimit(cells);
  return l;
}

RasterSurface DrawErrorMap(const SphereCircle& circle, const std::vector<HeightCell>& cells, int targetPanel) {
  const ErrorMapLayout l = LayoutErrorMap(circle, cells, targetPanel);
  const int barTop = l.panelTop + l.panelSide + 6;
  const int labelTop = barTop + kBarHeight + 3;
  RasterSurface s(l.panelLeft[2] + l.panelSide + kMargin, labelTop + kTextHeight + kMargin, kWhite);
  s.clear();

  const char* titles[3] = {"h", "y", "y-h"};
  for (int p = 0; p < 3; ++p) {
    const int left = l.panelLeft[p];
    DrawText(s, left + (l.panelSide - TextWidth(titles[p])) / 2, kMargin, titles[p]);
    s.fillRect(left, l.panelTop, left + l.panelSide - 1, l.panelTop + l.panelSide - 1, kOutside);
    // The scale: a bar running through the panel's colours, its ends labelled.
    for (int i = 0; i < l.panelSide; ++i) {
      const double t = l.panelSide > 1 ? static_cast<double>(i) / (l.panelSide - 1) : 0.0;
      const Colour c = p < 2 ? HeightGrey(t) : ErrorColour((2 * t - 1) * l.limit, l.limit);
      s.fillRect(left + i, barTop, left + i, barTop + kBarHeight - 1, c);
    }
    const std::string low = p < 2 ? "0" : Decimal(-l.limit, 2), high = p < 2 ? std::string("1") : std::string("+").append(Decimal(l.limit, 2));
    DrawText(s, left, labelTop, low);
    DrawText(s, left + l.panelSide - TextWidth(high), labelTop, high);
    if (p == 2) DrawText(s, left + (l.panelSide - TextWidth("0")) / 2, labelTop, "0");
  }
  for (const HeightCell& c : cells) {
    const int px = (c.x - l.x0) * l.cellPixels, py = (c.y - l.y0) * l.cellPixels;
    if (px < 0 || py < 0 || px >= l.panelSide || py >= l.panelSide) continue;
    const Colour colours[3] = {HeightGrey(c.target), HeightGrey(c.output), ErrorColour(c.error(), l.limit)};
    for (int p = 0; p < 3; ++p)
      s.fillRect(l.panelLeft[p] + px, l.panelTop + py, l.panelLeft[p] + px + l.cellPixels - 1,
                 l.panelTop + py + l.cellPixels - 1, colours[p]);
  }
  return s;
}

}  // namespace ps

#include <gtest/gtest.h>

#include <cmath>

#include "display/display_fixtures.h"
#include "display/map_view.h"
#include "display/overlays.h"
#include "sphere/contour.h"

namespace ps {
namespace {

using Kind = RecordingSurface::Kind;
using test::MapState;
using test::Pixel;

std::vector<RecordingSurface::Op> OpsOf(const RecordingSurface& s, Kind k) {
  std::vector<RecordingSurface::Op> out;
  for (const auto& op : s.ops())
    if (op.kind == k) out.push_back(op);
  return out;
}

TEST(MapRedraw, CellRectanglesWithGridOffAndOn) {
  AppState s = MapState(3, 2, [](int x, int y) { return Pixel(10 * x + y + 0.5, 0.5, 0.1); });
  DisplayState ds;
  RecordingSurface map;
  UvelicheniePolyarizacii(map, ds, s);
  EXPECT_EQ(map.width(), 27);
  EXPECT_EQ(map.height(), 18);
  auto fills = OpsOf(map, Kind::FillRect);
  ASSERT_EQ(fills.size(), 6u);
  // Row by row; cell (2, 1) spans (9, 0)..(17, 8); grey of A0 rounded half to even.
  EXPECT_EQ(fills[1].x1, 9);
  EXPECT_EQ(fills[1].y1, 0);
  EXPECT_EQ(fills[1].x2, 17);
  EXPECT_EQ(fills[1].y2, 8);
  EXPECT_EQ(StripFlag(fills[1].colour), Rgb(22, 22, 22));  // 21.5 -> 22
  EXPECT_EQ(StripFlag(fills[0].colour), Rgb(12, 12, 12));  // 11.5 -> 12
  EXPECT_EQ(fills[3].x1, 0);
  EXPECT_EQ(fills[3].y1, 9);
  EXPECT_EQ(fills[0].colour & kPaletteFlag, kPaletteFlag);
  EXPECT_EQ(map.count(Kind::Line), 0u);

  ds.Grid = true;
  map.reset();
  UvelicheniePolyarizacii(map, ds, s);
  EXPECT_EQ(map.width(), 26);
  EXPECT_EQ(map.height(), 17);
  fills = OpsOf(map, Kind::FillRect);
  ASSERT_EQ(fills.size(), 6u);
  EXPECT_EQ(fills[5].x1, 18);
  EXPECT_EQ(fills[5].y1, 9);
  EXPECT_EQ(fills[5].x2, 25);
  EXPECT_EQ(fills[5].y2, 16);
  EXPECT_GE(map.count(Kind::Clear), 1u);

  // Zoom 3 with the grid: 2 x 2 painted pixels and a one-pixel gap of background.
  s.ZoomFactor = 3;
  RasterSurface raster;
  UvelicheniePolyarizacii(raster, ds, s);
  EXPECT_EQ(raster.width(), 8);
  EXPECT_EQ(raster.pixel(3, 0), Rgb(22, 22, 22));
  EXPECT_EQ(raster.pixel(4, 1), Rgb(22, 22, 22));
  EXPECT_EQ(raster.pixel(5, 0), kGridColour);
  EXPECT_EQ(raster.pixel(3, 2), kGridColour);
}

TEST(EllipseColour, HueFromAzimuthSaturationFromAxisRatio) {
  EllipseColourMemory m;
  EXPECT_EQ(StripFlag(ЦветДляЭллипса(0, 0, m)), Rgb(255, 0, 0));
  EXPECT_EQ(StripFlag(ЦветДляЭллипса(0, 3.14159 / 6, m)), Rgb(255, 255, 0));
  EXPECT_EQ(StripFlag(ЦветДляЭллипса(0, -3.14159 / 6, m)), Rgb(255, 0, 255));
  EXPECT_EQ(StripFlag(ЦветДляЭллипса(1, 0.3, m)), Rgb(235, 235, 235));
  EXPECT_EQ(ЦветДляЭллипса(0, 0, m) & kPaletteFlag, kPaletteFlag);
  // Axis ratio 0.5: S = 0.625, V = 223.125; azimuth pi/2 gives hue 3: (p, q, V).
  EXPECT_EQ(StripFlag(ЦветДляЭллипса(0.5, 3.14159 / 2, m)), Rgb(84, 223, 223));
  // A hue outside the colour circle repeats the previous components.
  const Colour previous = ЦветДляЭллипса(0, 3.14159 / 6, m);
  EXPECT_EQ(ЦветДляЭллипса(0, 10.0, m), previous);
  EXPECT_EQ(ЦветДляЭллипса(0, std::nan(""), m), previous);
}

TEST(EllipseGlyph, LinearPixelPlotsOnlyItsStartPoint) {
  RecordingSurface s(100, 100);
  EllipseColourMemory m;
  DrawEllipseGlyph(s, 2, 3, 9, 2, 0.0, 0.5, m);
  ASSERT_EQ(s.ops().size(), 1u);
  const auto& p = s.ops()[0];
  EXPECT_EQ(p.kind, Kind::Point);
  const double a = 3.5, xc = 2 * 9 - 2 - a, yc = 3 * 9 - 2 - a;
  EXPECT_DOUBLE_EQ(p.x1, xc + a * std::cos(0.5));
  EXPECT_DOUBLE_EQ(p.y1, yc - a * std::sin(0.5));

  // The preview still draws it as a line: the ratio is raised to 0.000001.
  RecordingSurface preview(81, 81);
  double ratio = 0;
  EXPECT_TRUE(DrawPreviewEllipse(preview, ratio, 0.5, 0));
  EXPECT_EQ(ratio, 0.000001);
  EXPECT_EQ(preview.count(Kind::Line), 61u);
}

TEST(EllipseGlyph, OutlineHas22VerticesAndGoesOnceRound) {
  // Every axis ratio and azimuth of a grid draws the full outline inside its cell.
  // 0.009 and 0.019 are ratios whose vertex at t = 0 comes out a unit in the last place beyond a.
  for (double k : {0.009, 0.019, 0.05, 0.3, 0.37, 0.5, 0.93, 0.999})
    for (double phi : {-1.5, -0.4, 0.0, 0.7, 1.5}) {
      RecordingSurface s(200, 200);
      EllipseColourMemory m;
      DrawEllipseGlyph(s, 3, 3, 9, 2, k, phi, m);
      const auto lines = OpsOf(s, Kind::Line);
      ASSERT_EQ(lines.size(), 22u) << k << " " << phi;
      const auto& start = s.ops()[0];
      // The first vertex (t = 0) is the start point; the last (t = 2 pi + 0.314) passes the second again.
      EXPECT_NEAR(lines[0].x2, start.x1, 1e-9);
      EXPECT_NEAR(lines[0].y2, start.y1, 1e-9);
      // Every vertex lies on the ellipse of semi-axes a, b turned by the azimuth.
      const double a = 3.5, b = a * k, xc = 27 - 2 - a, yc = 27 - 2 - a;
      for (const auto& l : lines) {
        const double dx = l.x2 - xc, dy = l.y2 - yc;
        const double X = dx * std::cos(phi) - dy * std::sin(phi), Y = -dx * std::sin(phi) - dy * std::cos(phi);
        EXPECT_NEAR(X * X / (a * a) + Y * Y / (b * b), 1.0, 1e-6);
      }
      for (const auto& l : lines) {
        EXPECT_GE(l.x2, 18 - 0.01);
        EXPECT_LE(l.x2, 25 + 0.01);
        EXPECT_GE(l.y2, 18 - 0.01);
        EXPECT_LE(l.y2, 25 + 0.01);
      }
    }
}

TEST(MapRedraw, EllipsesAtSmallZoomColourTheDefinedCells) {
  AppState s = MapState(4, 1, [](int x, int) {
    return x == 2 ? Pixel(50, 1, 0, kUndefinedMarker) : Pixel(50, 0, 3.14159 / 6);
  });
  DisplayState ds;
  ds.Ellipses = true;
  s.ZoomFactor = 2;
  RasterSurface map;
  UvelicheniePolyarizacii(map, ds, s);
  EXPECT_EQ(map.pixel(0, 0), Rgb(255, 255, 0));
  EXPECT_EQ(map.pixel(1, 1), Rgb(255, 255, 0));
  EXPECT_EQ(map.pixel(2, 0), Rgb(50, 50, 50));  // undefined: grey
  EXPECT_EQ(map.pixel(3, 1), Rgb(50, 50, 50));
  // At zoom 3 the cells are grey with the outline on top.
  s.ZoomFactor = 3;
  RecordingSurface rec;
  UvelicheniePolyarizacii(rec, ds, s);
  EXPECT_EQ(rec.count(Kind::FillRect), 4u);
  EXPECT_EQ(rec.count(Kind::Point), 3u);
}

TEST(ChangeMap, BorderUnpaintedKernelOrientationAndSensitivities) {
  AppState s = MapState(8, 7, [](int x, int y) {
    if (x == 5 && y == 4) return Pixel(0, 0.1, 0.2);
    if (x == 4 && y == 5) return Pixel(0, 1, 0, kUndefinedMarker);
    return Pixel(0, 0, 0);
  });
  s.Detection.ShowMode = 1;
  s.ZoomFactor = 3;
  DisplayState ds;
  RecordingSurface rec;
  UvelicheniePolyarizacii(rec, ds, s);
  const auto fills = OpsOf(rec, Kind::FillRect);
  ASSERT_EQ(fills.size(), 12u);  // interior cells x 3..6, y 3..5 only
  for (const auto& f : fills) {
    EXPECT_GE(f.x1, 6);
    EXPECT_LE(f.x2, 17);
    EXPECT_GE(f.y1, 6);
    EXPECT_LE(f.y2, 14);
  }
  // All weights 0: interior defined cells black, undefined ones violet.
  RasterSurface map;
  UvelicheniePolyarizacii(map, ds, s);
  EXPECT_EQ(map.pixel(3 * 4 - 2, 3 * 3 - 2), Rgb(0, 0, 0));
  EXPECT_EQ(map.pixel(3 * 4 - 2, 3 * 5 - 2), Rgb(100, 0, 255));
  EXPECT_EQ(map.pixel(0, 0), kGridColour);

  // One weight, on the neighbour at column offset +1: cell (4, 4) sees pixel (5, 4).
  s.Detection.WeightKernel[3][2] = 100;
  s.Detection.EllipticitySensitivity = 2;
  s.Detection.AzimuthSensitivity = 1;
  UvelicheniePolyarizacii(map, ds, s);
  // R = 0.1 * 255 / (pi/4) * 2 = 64.9, G = 0.2 * 255 / (pi/2) = 32.5
  EXPECT_EQ(map.pixel(3 * 4 - 2, 3 * 4 - 2), Rgb(65, 32, 0));
  EXPECT_EQ(map.pixel(3 * 5 - 2, 3 * 4 - 2), Rgb(0, 0, 0));
  s.Detection.SubtractKernel[3][2] = 100;  // subtracting the same weight cancels it
  UvelicheniePolyarizacii(map, ds, s);
  EXPECT_EQ(map.pixel(3 * 4 - 2, 3 * 4 - 2), Rgb(0, 0, 0));
  // Large sums are limited to 255.
  s.Detection.SubtractKernel[3][2] = -900;
  UvelicheniePolyarizacii(map, ds, s);
  EXPECT_EQ(map.pixel(3 * 4 - 2, 3 * 4 - 2), Rgb(255, 255, 0));
}

TEST(MapRedraw, SphereCircleOnlyWhenKnown) {
  AppState s = MapState(12, 10, [](int, int) { return Pixel(80, 0.2, 0); });
  s.Circle = {5, 4, 2};
  DisplayState ds;
  RecordingSurface rec;
  UvelicheniePolyarizacii(rec, ds, s);
  EXPECT_EQ(rec.count(Kind::Circle), 0u);
  ds.SphereButtonVisible = true;
  rec.reset();
  UvelicheniePolyarizacii(rec, ds, s);
  const auto circles = OpsOf(rec, Kind::Circle);
  ASSERT_EQ(circles.size(), 1u);
  EXPECT_DOUBLE_EQ(circles[0].x1, 4.5 * 9 - 1);
  EXPECT_DOUBLE_EQ(circles[0].y1, 3.5 * 9 - 1);
  EXPECT_DOUBLE_EQ(circles[0].radius, 18);
  EXPECT_EQ(StripFlag(circles[0].colour), Rgb(0, 200, 0));
  EXPECT_TRUE(ds.MarkerTimerStarted);
}

TEST(SourceView, PaintsChannelsOrPaletteAndNothingForOtherFiles) {
  AppState s = MapState(3, 2, [](int, int) { return Pixel(0, 0, 0); });
  s.ImageStore.set(2, 1, 0, 3, 10);
  s.ImageStore.set(2, 1, 1, 3, 20);
  s.ImageStore.set(2, 1, 2, 3, 30);
  DisplayState ds;
  s.ZoomFactor = 4;
  RasterSurface pic;
  Uvelichenie(pic, ds, s, 3);
  EXPECT_EQ(ds.ScaleText, "400");
  EXPECT_EQ(pic.width(), 12);
  EXPECT_EQ(pic.pixel(4, 0), Rgb(10, 20, 30));
  EXPECT_EQ(pic.pixel(7, 3), Rgb(10, 20, 30));
  EXPECT_EQ(pic.pixel(8, 0), Rgb(0, 0, 0));

  s.Header.BitsPerPixel = 8;
  s.PaletteTable[10] = {1.5f, 2.5f, 200.4f};
  Uvelichenie(pic, ds, s, 3);
  EXPECT_EQ(pic.pixel(4, 0), Rgb(2, 2, 200));  // rounded half to even

  s.Header.BitsPerPixel = 4;
  RecordingSurface rec;
  Uvelichenie(rec, ds, s, 3);
  EXPECT_EQ(rec.count(Kind::FillRect), 0u);
  s.Header.BitsPerPixel = 24;
  s.Header.FileSignature = "BA";
  Uvelichenie(rec, ds, s, 3);
  EXPECT_EQ(rec.count(Kind::FillRect), 0u);
}

TEST(Overlays, ContourPointsAndPressMarks) {
  AppState s = MapState(12, 12, [](int, int) { return Pixel(100, 0, 0); });
  double* r = s.ResultMap.mutableLayer(19);
  for (int y = 1; y <= 12; ++y)
    for (int x = 1; x <= 12; ++x) r[(y - 1) * 12 + (x - 1)] = x == 6 ? -40.0 : (x == 5 || x == 7 ? -10.0 : 5.0);
  s.ZoomFactor = 3;
  RasterSurface map(36, 36, Rgb(1, 2, 3));
  RecordingSurface rec(36, 36);
  const long long drawn = DrawContour(rec, s, false, false);
  DrawContour(map, s, false, false);
  EXPECT_GT(drawn, 0);
  for (const auto& op : rec.ops()) {
    EXPECT_EQ(op.kind, Kind::FillRect);
    EXPECT_EQ(op.x2 - op.x1, 2);  // a square of the zoom
    const int cx = static_cast<int>(op.x1) / 3 + 1, cy = static_cast<int>(op.y1) / 3 + 1;
    const ContourPointStyle style = ContourPointColour(s.ResultMap, cx, cy, false, false);
    EXPECT_TRUE(style.drawn);
    EXPECT_EQ(StripFlag(op.colour), style.colour);
  }
  EXPECT_EQ(map.pixel(0, 0), Rgb(1, 2, 3));  // positive response: not drawn

  MapMark square;
  square.kind = MarkKind::FilledRect;
  square.colour = SphereRgb(192, 98, 0);
  square.left = 3, square.top = 6, square.right = 5, square.bottom = 8;
  MapMark circle;
  circle.kind = MarkKind::Circle;
  circle.colour = SphereRgb(0, 200, 0);
  circle.centreX = 20, circle.centreY = 20, circle.radius = 6;
  DrawMapMarks(map, {square, circle});
  EXPECT_EQ(map.pixel(4, 7), Rgb(192, 98, 0));
  EXPECT_EQ(map.pixel(26, 20), Rgb(0, 200, 0));
}

}  // namespace
}  // namespace ps

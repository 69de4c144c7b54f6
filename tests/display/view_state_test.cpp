#include <gtest/gtest.h>

#include <array>
#include <tuple>

#include "display/display_fixtures.h"
#include "display/map_view.h"
#include "display/view_state.h"

namespace ps {
namespace {

using test::MapState;
using test::Pixel;
using Quad = std::array<double, 4>;
Quad BoxOf(const Box& b) { return {b.Left, b.Top, b.Width, b.Height}; }
AppState FlatState(int W, int H) { return MapState(W, H, [](int, int) { return Pixel(100, 0.5, 0.3); }); }

TEST(Layout, SmallMapIsCentredLargeMapGetsBarsThatScrollItAndTheViews) {
  AppState s = FlatState(20, 10);
  DisplayState ds;
  EXPECT_FALSE(LayoutMap(ds, s));  // grid off, intensity map: no clearing
  EXPECT_EQ(BoxOf(ds.MapViewport), (Quad{386.5, 79.5, 180, 90}));
  EXPECT_FALSE(ds.VScroll5.Visible || ds.HScroll5.Visible);
  s.Detection.ShowMode = 1;
  EXPECT_TRUE(LayoutMap(ds, s));  // the change map clears first
  LayoutSourceView(ds, s, 3);     // a narrow short image: a bar below only
  EXPECT_EQ(std::tuple(BoxOf(ds.Views[2].Viewport), ds.Views[2].HBar.Visible, ds.Views[2].VBar.Visible, ds.Views[2].HBar.Max),
            std::tuple(Quad{360, 282 + 39.5, 153, 90}, true, false, 27));
  ds.Grid = true;
  s = FlatState(60, 40);
  s.ZoomFactor = 2;
  EXPECT_FALSE(LayoutMap(ds, s));  // the grid takes a pixel a cell from zoom 3 on
  EXPECT_EQ(std::pair(ds.CellInsetX, ds.Map.Width), std::pair(1, 120.0));
  s.ZoomFactor = 9;  // large map: viewport at its place with both bars
  EXPECT_TRUE(LayoutMap(ds, s));
  EXPECT_EQ(std::pair(BoxOf(ds.Map), BoxOf(ds.MapViewport)), std::pair(Quad{0, 0, 539, 359}, Quad{264, 40, 425, 169}));
  EXPECT_EQ(std::tuple(ds.VScroll5.Visible, ds.VScroll5.Max, ds.HScroll5.Max, ds.HScroll5.Top),
            std::tuple(true, 359 - 169, 539 - 425, 40.0 + 169));
  ds.Grid = false;  // vertical bars move all views and the map, horizontal ones only the views
  for (int k = 1; k <= 4; ++k) LayoutSourceView(ds, s, k);
  LayoutMap(ds, s);
  auto expectViews = [&](int left, int top) {
    for (const auto& v : ds.Views)
      EXPECT_EQ(std::tuple(v.Picture.Left, v.HBar.Value, v.Picture.Top, v.VBar.Value), std::tuple(-left, left, -top, top));
  };
  ScrollSourceV(ds, 2, 45);
  ScrollSourceH(ds, 2, 30);
  expectViews(30, 45);
  EXPECT_EQ(std::tuple(ds.VScroll5.Value, ds.Map.Top, ds.HScroll5.Value, ds.Map.Left), std::tuple(45, -45.0, 0, 0.0));
  ScrollMapV(ds, 1000);  // held at the bar's maximum
  ScrollMapH(ds, 500);   // held at 540 - 425; the views keep their place
  EXPECT_EQ(std::pair(ds.VScroll5.Value, ds.Map.Left), std::pair(191, -115.0));
  expectViews(30, 191);
  s.ZoomFactor = 5;  // a redraw at a smaller zoom brings the values inside the new ranges
  LayoutMap(ds, s);
  EXPECT_EQ(std::tuple(ds.VScroll5.Max, ds.VScroll5.Value, ds.Map.Top, ds.Views[2].VBar.Value), std::tuple(31, 31, -31.0, 31));
}

TEST(Zoom, MouseAndTypedScaleRespectLimitsAndGridAvailability) {
  EXPECT_EQ(FitZoom(9, 100, 667), 2);  // a loaded set: 3 x 667 = 2001 is too large
  AppState s = FlatState(200, 100), tiny = FlatState(5, 5);
  DisplayState ds;
  EXPECT_EQ(ZoomByMouse(ds, s, 2, 1), kRedrawNone);  // 10 * 200 = 2000 is not below 2000
  EXPECT_EQ(std::tuple(s.ZoomFactor, ds.Views[1].Pointer, s.CurrentSlot), std::tuple(9, ViewPointer::ZoomOut, 2));
  EXPECT_EQ(ZoomByMouse(ds, s, 1, 2), kRedrawView1 | kRedrawView2 | kRedrawView3 | kRedrawView4 | kRedrawMap);
  EXPECT_EQ(std::tuple(s.ZoomFactor, ds.Views[0].VBar.SmallChange, ds.Views[0].Pointer), std::tuple(8, 8, ViewPointer::Normal));
  s.ZoomFactor = 3;
  ZoomByMouse(ds, s, 1, 4);
  EXPECT_EQ(std::pair(s.ZoomFactor, ds.GridEnabled), std::pair(2, false));
  ZoomByMouse(ds, s, 1, 3);
  EXPECT_EQ(std::pair(s.ZoomFactor, ds.GridEnabled), std::pair(3, true));
  s.ZoomFactor = 1, tiny.ZoomFactor = 30;  // at the limits nothing changes
  EXPECT_EQ(ZoomByMouse(ds, s, 1, 2) | ZoomByMouse(ds, s, 1, 0) | ZoomByMouse(ds, tiny, 1, 1), kRedrawNone);
  EXPECT_EQ(std::pair(s.ZoomFactor, tiny.ZoomFactor), std::pair(1, 30));
  s.SlotLoaded = {true, false, true, false};  // before the set is complete: the loaded views only, also for the check boxes
  s.ZoomFactor = 5;
  EXPECT_EQ(ZoomByMouse(ds, s, 1, 1), kRedrawView1 | kRedrawView3);
  ds.Ellipses = true;
  EXPECT_EQ(GridClicked(ds, s) | EllipsesClicked(ds, s), kRedrawView1 | kRedrawView3);
  s.SlotLoaded = {true, true, true, true};
  EXPECT_EQ(EllipsesClicked(ds, s), kRedrawMap);
  ds.Ellipses = false;
  EXPECT_EQ(EllipsesClicked(ds, s), kRedrawNone);

  // A typed scale on a set 200 high: 10 x 200 is not below 2000; 2.5 rounds to even; the user's decimal separator.
  s = FlatState(100, 200);
  for (auto [typed, zoom, redraw] : {std::tuple{"1000", 9, false}, {"250", 2, true}, {"149,9", 1, true}, {"350", 4, true},
                                     {"", 4, false}, {"abc", 4, false}, {"0", 4, false}, {"40", 4, false},
                                     {"-300", 4, false}, {"3100", 4, false}, {"1e300", 4, false}}) {
    ds.ScaleText = typed;  // rewritten with the zoom in force
    EXPECT_EQ(TypedScale(ds, s, typed) != kRedrawNone, redraw) << typed;
    EXPECT_EQ(std::pair(s.ZoomFactor, ds.ScaleText), std::pair(zoom, std::to_string(zoom * 100))) << typed;
  }
  EXPECT_EQ(std::tuple(ds.VScroll5.SmallChange, ds.Views[3].HBar.SmallChange, ds.HScroll5.SmallChange),
            std::tuple(4, 4, 1));  // the map's horizontal bar keeps its step
}

TEST(Readout, MapShowsCellValuesWithTheUsersSeparator) {
  AppState s = MapState(30, 20, [](int x, int y) {
    return x == 3 && y == 2 ? Pixel(123.456, 0.5, 0.25) : Pixel(10, 1, 0, kUndefinedMarker);
  });
  DisplayState ds;
  RecordingSurface preview(81, 81);
  MapReadout(ds, s, 2 * 9 + 4.4, 9 + 0.2, preview);
  EXPECT_EQ(ds.Label10 + ds.Label11 + "|" + ds.Label2 + "|" + ds.Label3 + "|" + ds.Label16,
            "Х:  3Y:  2|Угол элл-ти = ±0,464|Азимут = 0,250|Интенсивность = 123,46");
  EXPECT_EQ(s.Current.A0, 123.456);
  using K = RecordingSurface::Kind;
  EXPECT_EQ(std::tuple(preview.count(K::Clear), preview.count(K::Point), preview.count(K::Line)), std::tuple(1u, 1u, 61u));
  MapReadout(ds, s, 5000, 5000, preview);  // beyond the right and bottom edge: the last cell
  EXPECT_EQ(ds.Label10 + ds.Label11, "Х:  30Y:  20");
  preview.reset();  // negative: the first cell; undefined, so no preview
  MapReadout(ds, s, -40, -3, preview);
  EXPECT_EQ(ds.Label10 + ds.Label11, "Х:  1Y:  1");
  EXPECT_EQ(preview.count(K::Line) + preview.count(K::Point), 0u);
  s.ZoomFactor = 3;  // pixel (5.4, 8.6) at zoom 3 is cell (2, 4)
  EXPECT_EQ(std::pair(CellUnderMouse(s, 5.4, 8.6).X, CellUnderMouse(s, 5.4, 8.6).Y), std::pair(2, 4));
}

TEST(Readout, SourceViewShowsTheTickedDefinition) {
  AppState s = FlatState(4, 3);
  for (auto [c, v] : {std::pair{0, 30}, {1, 61}, {2, 90}}) s.ImageStore.set(2, 3, c, 1, v);
  s.PaletteTable[30] = {10.0f, 20.0f, 40.5f};
  DisplayState ds;
  ds.Label2 = ds.Label3 = "x";
  s.ColouredPixelCount = {0, 0, 0, 0};
  SourceReadout(ds, s, 1, 9 + 1, 18 + 8.9);  // rounds to 27: row 3; a grey slot shows the red channel
  EXPECT_EQ(ds.Label10 + ds.Label11 + ds.Label2 + ds.Label3 + "|" + ds.Label16, "Х:  2Y:  3|Интенсивность 30");
  EXPECT_EQ(s.CurrentSlot, 1);
  for (auto [bits, coloured, mode, text] : {std::tuple{24, 5, kModeLuma, "55,04"},  // 0.299*30 + 0.587*61 + 0.114*90
                                            {24, 5, kModeMean, "60,33"}, {24, 5, kModeMax, "90"},
                                            {24, 5, IntensityModeValue{}, "90"},  // no option ticked: left as it is
                                            {8, 5, kModeMax, "40,5"}, {8, 5, kModeMean, "23,50"}, {8, 0, kModeMean, "10"}}) {
    s.Header.BitsPerPixel = bits, s.ColouredPixelCount[0] = coloured, s.IntensityMode = mode;
    SourceReadout(ds, s, 1, 10, 20);
    EXPECT_EQ(ds.Label16, std::string("Интенсивность ") + text) << bits << " " << mode;
  }
  s.Header.FileSignature = "XX", ds.Label16 = "keep";  // not a bitmap: only the coordinates
  SourceReadout(ds, s, 1, 0, 0);
  EXPECT_EQ(ds.Label16 + ds.Label10, "keepХ:  1");
}

}  // namespace
}  // namespace ps

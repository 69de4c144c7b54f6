#include <gtest/gtest.h>

#include "display/display_fixtures.h"
#include "display/map_view.h"
#include "display/view_state.h"

namespace ps {
namespace {

using test::MapState;
using test::Pixel;

AppState FlatState(int W, int H) {
  return MapState(W, H, [](int, int) { return Pixel(100, 0.5, 0.3); });
}

TEST(Layout, SmallMapIsCentredWithoutScrollBars) {
  AppState s = FlatState(20, 10);
  DisplayState ds;
  EXPECT_FALSE(LayoutMap(ds, s));  // grid off, intensity map: no clearing
  EXPECT_DOUBLE_EQ(ds.Map.Width, 180);
  EXPECT_DOUBLE_EQ(ds.Map.Height, 90);
  EXPECT_DOUBLE_EQ(ds.MapViewport.Left, 386.5);
  EXPECT_DOUBLE_EQ(ds.MapViewport.Top, 79.5);
  EXPECT_DOUBLE_EQ(ds.MapViewport.Width, 180);
  EXPECT_FALSE(ds.VScroll5.Visible);
  EXPECT_FALSE(ds.HScroll5.Visible);
  EXPECT_DOUBLE_EQ(ds.VScroll5.Left, 386.5 + 180);

  s.Detection.ShowMode = 1;
  EXPECT_TRUE(LayoutMap(ds, s));  // the change map clears first
}

TEST(Layout, GridChangesMapSizeOnlyAboveZoomTwo) {
  AppState s = FlatState(50, 40);
  DisplayState ds;
  ds.Grid = true;
  s.ZoomFactor = 2;
  EXPECT_FALSE(LayoutMap(ds, s));
  EXPECT_EQ(ds.CellInsetX, 1);
  EXPECT_DOUBLE_EQ(ds.Map.Width, 100);
  s.ZoomFactor = 3;
  EXPECT_TRUE(LayoutMap(ds, s));
  EXPECT_EQ(ds.CellInsetX, 2);
  EXPECT_EQ(ds.CellInsetY, 2);
  EXPECT_DOUBLE_EQ(ds.Map.Width, 149);
  EXPECT_DOUBLE_EQ(ds.Map.Height, 119);
  // Large map: viewport at its place with both bars.
  s.ZoomFactor = 9;
  LayoutMap(ds, s);
  EXPECT_DOUBLE_EQ(ds.MapViewport.Left, 264);
  EXPECT_DOUBLE_EQ(ds.MapViewport.Top, 40);
  EXPECT_TRUE(ds.VScroll5.Visible);
  EXPECT_EQ(ds.VScroll5.Max, 359 - 169);
  EXPECT_EQ(ds.HScroll5.Max, 449 - 425);
  EXPECT_DOUBLE_EQ(ds.HScroll5.Top, 40 + 169);
}

TEST(Layout, SourceViewsOfANarrowShortImage) {
  AppState s = FlatState(20, 10);
  DisplayState ds;
  LayoutSourceView(ds, s, 3);
  const SourceView& v = ds.Views[2];
  EXPECT_DOUBLE_EQ(v.Viewport.Left, 360);
  EXPECT_DOUBLE_EQ(v.Viewport.Width, 153);
  EXPECT_TRUE(v.HBar.Visible);
  EXPECT_EQ(v.HBar.Max, 27);
  EXPECT_DOUBLE_EQ(v.Viewport.Top, 282 + 39.5);
  EXPECT_FALSE(v.VBar.Visible);
  EXPECT_DOUBLE_EQ(v.HBar.Top, 282 + 39.5 + 90);
  LayoutSourceView(ds, s, 2);
  EXPECT_DOUBLE_EQ(ds.Views[1].Viewport.Top, 282 + 39);  // slot 2 truncates the half
  s.ZoomFactor = 5;                                       // 100 wide: centred
  LayoutSourceView(ds, s, 4);
  EXPECT_DOUBLE_EQ(ds.Views[3].Viewport.Left, 536 + 26.5);
  EXPECT_FALSE(ds.Views[3].HBar.Visible);
}

TEST(Zoom, MouseZoomRespectsLimitsAndGridAvailability) {
  AppState s = FlatState(200, 100);
  DisplayState ds;
  EXPECT_EQ(ZoomByMouse(ds, s, 2, 1), kRedrawNone);  // 10 * 200 = 2000 is not below 2000
  EXPECT_EQ(s.ZoomFactor, 9);
  EXPECT_EQ(ds.Views[1].Pointer, ViewPointer::ZoomOut);
  EXPECT_EQ(s.CurrentSlot, 2);

  EXPECT_EQ(ZoomByMouse(ds, s, 1, 2), RedrawAllViews(s));
  EXPECT_EQ(RedrawAllViews(s), kRedrawView1 | kRedrawView2 | kRedrawView3 | kRedrawView4 | kRedrawMap);
  EXPECT_EQ(s.ZoomFactor, 8);
  EXPECT_EQ(ds.Views[0].VBar.SmallChange, 8);
  EXPECT_EQ(ds.Views[0].Pointer, ViewPointer::Normal);

  s.ZoomFactor = 3;
  ZoomByMouse(ds, s, 1, 4);
  EXPECT_EQ(s.ZoomFactor, 2);
  EXPECT_FALSE(ds.GridEnabled);
  ZoomByMouse(ds, s, 1, 3);
  EXPECT_EQ(s.ZoomFactor, 3);
  EXPECT_TRUE(ds.GridEnabled);

  s.ZoomFactor = 1;
  ds.Views[0].Pointer = ViewPointer::ZoomIn;
  EXPECT_EQ(ZoomByMouse(ds, s, 1, 2), kRedrawNone);
  EXPECT_EQ(s.ZoomFactor, 1);
  EXPECT_EQ(ds.Views[0].Pointer, ViewPointer::ZoomIn);  // not even the pointer changes
  EXPECT_EQ(ZoomByMouse(ds, s, 1, 0), kRedrawNone);

  s.ZoomFactor = 30;
  AppState tiny = FlatState(5, 5);
  tiny.ZoomFactor = 30;
  EXPECT_EQ(ZoomByMouse(ds, tiny, 1, 1), kRedrawNone);
  EXPECT_EQ(tiny.ZoomFactor, 30);

  s.SlotLoaded = {true, false, true, false};
  s.ZoomFactor = 5;
  EXPECT_EQ(ZoomByMouse(ds, s, 1, 1), kRedrawView1 | kRedrawView3);  // no map before the set is complete
}

TEST(Zoom, TypedScaleRoundsRefusesAndRewrites) {
  AppState s = FlatState(200, 100);
  DisplayState ds;
  EXPECT_EQ(TypedScale(ds, s, "1000"), kRedrawNone);
  EXPECT_EQ(s.ZoomFactor, 9);
  EXPECT_EQ(ds.ScaleText, "900");
  EXPECT_NE(TypedScale(ds, s, "250"), kRedrawNone);
  EXPECT_EQ(s.ZoomFactor, 2);  // 2.5 rounds to even
  EXPECT_EQ(ds.ScaleText, "200");
  TypedScale(ds, s, "350");
  EXPECT_EQ(s.ZoomFactor, 4);
  EXPECT_EQ(ds.ScaleText, "400");
  EXPECT_EQ(ds.VScroll5.SmallChange, 4);
  EXPECT_EQ(ds.Views[3].HBar.SmallChange, 4);
  EXPECT_EQ(ds.HScroll5.SmallChange, 1);  // the map's horizontal bar keeps its step
  for (const char* bad : {"", "abc", "0", "40", "-300", "3100", "1e300"}) {
    EXPECT_EQ(TypedScale(ds, s, bad), kRedrawNone) << bad;
    EXPECT_EQ(s.ZoomFactor, 4) << bad;
    EXPECT_EQ(ds.ScaleText, "400") << bad;
  }
  TypedScale(ds, s, "149,9");  // decimal separator of the user: 1.499 rounds to 1
  EXPECT_EQ(s.ZoomFactor, 1);
}

TEST(Scroll, VerticalBarsMoveAllViewsAndTheMapHorizontalOnlyTheViews) {
  AppState s = FlatState(60, 40);
  DisplayState ds;
  for (int k = 1; k <= 4; ++k) LayoutSourceView(ds, s, k);
  LayoutMap(ds, s);
  ASSERT_EQ(ds.Views[1].VBar.Max, 191);
  ASSERT_EQ(ds.VScroll5.Max, 191);

  ScrollSourceV(ds, 2, 45);
  for (const auto& v : ds.Views) {
    EXPECT_DOUBLE_EQ(v.Picture.Top, -45);
    EXPECT_EQ(v.VBar.Value, 45);
  }
  EXPECT_EQ(ds.VScroll5.Value, 45);
  EXPECT_DOUBLE_EQ(ds.Map.Top, -45);

  ScrollSourceH(ds, 2, 30);
  for (const auto& v : ds.Views) {
    EXPECT_DOUBLE_EQ(v.Picture.Left, -30);
    EXPECT_EQ(v.HBar.Value, 30);
  }
  EXPECT_EQ(ds.HScroll5.Value, 0);
  EXPECT_DOUBLE_EQ(ds.Map.Left, 0);

  ScrollMapV(ds, 1000);  // held at the bar's maximum
  EXPECT_EQ(ds.VScroll5.Value, 191);
  for (const auto& v : ds.Views) EXPECT_DOUBLE_EQ(v.Picture.Top, -191);
  ScrollMapH(ds, 500);  // held at 540 - 425
  EXPECT_DOUBLE_EQ(ds.Map.Left, -115);
  EXPECT_DOUBLE_EQ(ds.Views[0].Picture.Left, -30);

  // A redraw at a smaller zoom brings the values inside the new ranges.
  s.ZoomFactor = 5;
  LayoutMap(ds, s);
  EXPECT_EQ(ds.VScroll5.Max, 200 - 169);
  EXPECT_EQ(ds.VScroll5.Value, 31);
  EXPECT_DOUBLE_EQ(ds.Map.Top, -31);
  for (const auto& v : ds.Views) EXPECT_EQ(v.VBar.Value, 31);
}

TEST(Readout, MapShowsCellValuesWithTheUsersSeparator) {
  AppState s = MapState(30, 20, [](int x, int y) {
    return x == 3 && y == 2 ? Pixel(123.456, 0.5, 0.25) : Pixel(10, 1, 0, kUndefinedMarker);
  });
  DisplayState ds;
  RecordingSurface preview(81, 81);
  MapReadout(ds, s, 2 * 9 + 4.4, 9 + 0.2, preview);
  EXPECT_EQ(ds.Label10, "Х:  3");
  EXPECT_EQ(ds.Label11, "Y:  2");
  EXPECT_EQ(ds.Label2, "Угол элл-ти = ±0,464");
  EXPECT_EQ(ds.Label3, "Азимут = 0,250");
  EXPECT_EQ(ds.Label16, "Интенсивность = 123,46");
  EXPECT_DOUBLE_EQ(ds.CellX, 3);
  EXPECT_EQ(s.Current.A0, 123.456);
  EXPECT_EQ(preview.count(RecordingSurface::Kind::Clear), 1u);
  EXPECT_EQ(preview.count(RecordingSurface::Kind::Point), 1u);
  EXPECT_EQ(preview.count(RecordingSurface::Kind::Line), 61u);

  // Beyond the right and bottom edge: the last cell; negative: the first.
  MapReadout(ds, s, 5000, 5000, preview);
  EXPECT_EQ(ds.Label10, "Х:  30");
  EXPECT_EQ(ds.Label11, "Y:  20");
  MapReadout(ds, s, -40, -3, preview);
  EXPECT_EQ(ds.Label10, "Х:  1");
  EXPECT_EQ(ds.Label11, "Y:  1");
  // An undefined pixel draws no preview.
  preview.reset();
  MapReadout(ds, s, 100, 100, preview);
  EXPECT_EQ(preview.count(RecordingSurface::Kind::Line), 0u);
  EXPECT_EQ(preview.count(RecordingSurface::Kind::Point), 0u);

  s.ZoomFactor = 3;  // pixel (5.4, 8.6) at zoom 3 is cell (2, 4)
  const CellPos c = CellUnderMouse(s, 5.4, 8.6);
  EXPECT_EQ(c.X, 2);
  EXPECT_EQ(c.Y, 4);
}

TEST(Readout, SourceViewShowsTheTickedDefinition) {
  AppState s = FlatState(4, 3);
  s.ImageStore.set(2, 3, 0, 1, 30);
  s.ImageStore.set(2, 3, 1, 1, 61);
  s.ImageStore.set(2, 3, 2, 1, 90);
  DisplayState ds;
  ds.Label2 = "x";
  ds.Label3 = "y";
  s.ColouredPixelCount = {0, 0, 0, 0};
  s.IntensityMode = kModeLuma;
  SourceReadout(ds, s, 1, 9 + 1, 18 + 8.9);  // rounds to 27: row 3
  EXPECT_EQ(ds.Label10, "Х:  2");
  EXPECT_EQ(ds.Label11, "Y:  3");
  EXPECT_EQ(ds.Label16, "Интенсивность 30");  // grey slot: the red channel
  EXPECT_EQ(ds.Label2, "");
  EXPECT_EQ(ds.Label3, "");
  EXPECT_EQ(s.CurrentSlot, 1);
  s.ColouredPixelCount[0] = 5;
  SourceReadout(ds, s, 1, 10, 20);
  EXPECT_EQ(ds.Label16, "Интенсивность 55,04");  // 0.299*30 + 0.587*61 + 0.114*90
  s.IntensityMode = kModeMean;
  SourceReadout(ds, s, 1, 10, 20);
  EXPECT_EQ(ds.Label16, "Интенсивность 60,33");
  s.IntensityMode = kModeMax;
  SourceReadout(ds, s, 1, 10, 20);
  EXPECT_EQ(ds.Label16, "Интенсивность 90");
  s.IntensityMode = 0;  // no option ticked: left as it is
  SourceReadout(ds, s, 1, 10, 20);
  EXPECT_EQ(ds.Label16, "Интенсивность 90");

  s.Header.BitsPerPixel = 8;
  s.PaletteTable[30] = {10.0f, 20.0f, 40.5f};
  s.IntensityMode = kModeMax;
  SourceReadout(ds, s, 1, 10, 20);
  EXPECT_EQ(ds.Label16, "Интенсивность 40,5");
  s.IntensityMode = kModeMean;
  SourceReadout(ds, s, 1, 10, 20);
  EXPECT_EQ(ds.Label16, "Интенсивность 23,50");
  s.ColouredPixelCount[0] = 0;
  SourceReadout(ds, s, 1, 10, 20);
  EXPECT_EQ(ds.Label16, "Интенсивность 10");

  s.Header.FileSignature = "XX";  // not a bitmap: only the coordinates
  ds.Label16 = "keep";
  SourceReadout(ds, s, 1, 0, 0);
  EXPECT_EQ(ds.Label16, "keep");
  EXPECT_EQ(ds.Label10, "Х:  1");
}

TEST(Marker, PulseRunsFrom255To93AndBackEveryTwentyTicks) {
  DisplayState ds;
  std::vector<int> blues;
  for (int i = 0; i < 21; ++i) blues.push_back(BlueOf(MarkerPulseStep(ds)));
  EXPECT_EQ(blues[0], 255);   // pulse 1
  EXPECT_EQ(blues[4], 143);   // pulse 5: 2*25+93
  EXPECT_EQ(blues[9], 93);    // pulse 10
  EXPECT_EQ(blues[19], 255);  // pulse 20, limited
  EXPECT_EQ(blues[20], 255);  // back to pulse 1
  EXPECT_EQ(ds.MarkerPulse, 1);
  EXPECT_EQ(RedOf(ds.MarkerColour) + GreenOf(ds.MarkerColour), 0);

  AppState s = FlatState(30, 30);
  s.SelectionLeft = 1, s.SelectionTop = 1, s.SelectionRight = 20, s.SelectionBottom = 20;
  PlaceSelectionMarker(ds, s);
  EXPECT_FALSE(ds.Marker.Visible);  // the start-up corners give no positive size
  s.SelectionLeft = s.SelectionRight = 5;
  s.SelectionTop = s.SelectionBottom = 6;
  PlaceSelectionMarker(ds, s);
  EXPECT_TRUE(ds.Marker.Visible);
  EXPECT_DOUBLE_EQ(ds.Marker.Left, 36);
  EXPECT_DOUBLE_EQ(ds.Marker.Top, 45);
  EXPECT_DOUBLE_EQ(ds.Marker.Width, 9);
  RasterSurface map(100, 100, 0xFFFFFF);
  DrawSelectionMarker(map, ds);  // outline of the cell in the pulse colour
  EXPECT_EQ(map.pixel(36, 45), StripFlag(ds.MarkerColour));
  EXPECT_EQ(map.pixel(44, 53), StripFlag(ds.MarkerColour));
  EXPECT_EQ(map.pixel(40, 49), 0xFFFFFFu);
  EXPECT_EQ(map.pixel(45, 45), 0xFFFFFFu);
}

TEST(CheckBoxes, GridRedrawsLoadedViewsEllipsesOnlyWhenTicked) {
  AppState s = FlatState(10, 10);
  DisplayState ds;
  s.SlotLoaded = {true, true, false, true};
  EXPECT_EQ(GridClicked(ds, s), kRedrawView1 | kRedrawView2 | kRedrawView4);
  ds.Ellipses = true;
  EXPECT_EQ(EllipsesClicked(ds, s), kRedrawNone);
  s.SlotLoaded = {true, true, true, true};
  EXPECT_EQ(EllipsesClicked(ds, s), kRedrawMap);
  ds.Ellipses = false;
  EXPECT_EQ(EllipsesClicked(ds, s), kRedrawNone);
}

}  // namespace
}  // namespace ps

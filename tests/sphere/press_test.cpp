// The map press: pressed cell, edge refusals, manual points, automatic trace and
// fit, and the marks and messages handed to the window.
#include <gtest/gtest.h>

#include <cmath>

#include "sphere/press.h"

namespace ps {
namespace {

AppState MakeState(int w, int h, int zoom) {
  AppState s;
  s.SetWidth = w;
  s.SetHeight = h;
  s.Header.ImageWidth = w;
  s.Header.ImageHeight = h;
  s.ZoomFactor = zoom;
  s.createResultMap();
  return s;
}

// Pointer position in the middle of cell (x, y).
PressInput At(const AppState& s, int x, int y, PressMode mode) {
  PressInput in;
  in.x = static_cast<float>((x - 1) * s.ZoomFactor + s.ZoomFactor / 2);
  in.y = static_cast<float>((y - 1) * s.ZoomFactor + s.ZoomFactor / 2);
  in.mode = mode;
  return in;
}

void MidpointRing(AppState& s, int cx, int cy, int r) {
  int x = r, y = 0, err = 1 - r;
  while (x >= y) {
    const int o[8][2] = {{x, y}, {y, x}, {-y, x}, {-x, y}, {-x, -y}, {-y, -x}, {y, -x}, {x, -y}};
    for (const auto& p : o) s.ResultMap.set(cx + p[0], cy + p[1], 19, -100);
    ++y;
    if (err < 0) {
      err += 2 * y + 1;
    } else {
      --x;
      err += 2 * (y - x) + 1;
    }
  }
}

int CountColour(const PressResult& r, uint32_t colour) {
  int n = 0;
  for (const MapMark& m : r.marks) n += m.colour == colour;
  return n;
}

TEST(PressedCell, RoundsClampsAndDivides) {
  EXPECT_EQ(PressedCell(5.4f, 8.6f, 3, 100, 100), std::make_pair(2, 4));
  // Halves go to the even neighbour.
  EXPECT_EQ(PressedCell(2.5f, 3.5f, 1, 100, 100), std::make_pair(3, 5));
  EXPECT_EQ(PressedCell(-40.0f, 1e9f, 9, 50, 40), std::make_pair(1, 40));
  EXPECT_EQ(PressedCell(448.9f, 0.0f, 9, 50, 40), std::make_pair(50, 1));
  // No image: the clamp ends below zero and gives cell 0.
  EXPECT_EQ(PressedCell(10.0f, 10.0f, 4, 0, 0).first, 0);
}

TEST(MapMarks, Geometry) {
  const MapMark cell = CellMark(3, 2, 9, kTraceColour);
  EXPECT_EQ(cell.kind, MarkKind::FilledRect);
  EXPECT_EQ(cell.left, 18);
  EXPECT_EQ(cell.top, 9);
  EXPECT_EQ(cell.right, 26);
  EXPECT_EQ(cell.bottom, 17);
  const MapMark one = CellMark(3, 2, 1, kTraceColour);
  EXPECT_EQ(one.left, one.right);  // a single pixel at zoom 1
  SphereCircle c;
  c.CircleCentreX = 10;
  c.CircleCentreY = 20;
  c.CircleRadius = 5;
  const auto marks = CircleMarks(c, 4);
  ASSERT_EQ(marks.size(), 2u);
  EXPECT_EQ(marks[0].right, 38);
  EXPECT_EQ(marks[0].left, 36);
  EXPECT_EQ(marks[0].bottom, 78);
  EXPECT_EQ(marks[1].kind, MarkKind::Circle);
  EXPECT_EQ(marks[1].centreX, 37);
  EXPECT_EQ(marks[1].centreY, 77);
  EXPECT_EQ(marks[1].radius, 20);
  EXPECT_EQ(marks[1].colour, kCircleColour);
}

TEST(MapPress, EdgeCellsShowTheMessageInBothModes) {
  for (PressMode mode : {PressMode::Automatic, PressMode::Manual}) {
    AppState s = MakeState(40, 30, 5);
    SphereSession session;
    session.BoundaryMarks.assign(7, 3);
    for (auto [x, y] : {std::pair{1, 10}, {40, 10}, {10, 1}, {10, 30}}) {
      const PressResult r = HandleMapPress(s, session, At(s, x, y, mode));
      ASSERT_EQ(r.messages.size(), 1u);
      EXPECT_EQ(r.messages[0].text, "Не ближе, чем за 1 точку к краю");
      EXPECT_EQ(r.messages[0].title, "");
      EXPECT_FALSE(r.selectionChanged);
      EXPECT_TRUE(r.marks.empty());
      EXPECT_EQ(session.ManualPointCount, 0);
    }
    // The marks are renewed even so.
    EXPECT_EQ(session.BoundaryMarks, std::vector<int32_t>(40 * 30, 0));
    EXPECT_EQ(s.SelectionLeft, 1);
  }
  // No image set at all: every press is at the edge.
  AppState empty;
  SphereSession session;
  EXPECT_EQ(HandleMapPress(empty, session, PressInput{}).messages.size(), 1u);
}

TEST(MapPress, SecondCellCountsInManualModeOnly) {
  AppState s = MakeState(40, 30, 5);
  SphereSession session;
  PressResult r = HandleMapPress(s, session, At(s, 2, 2, PressMode::Automatic));
  EXPECT_TRUE(r.messages.empty());
  EXPECT_TRUE(r.marks.empty());
  EXPECT_FALSE(r.traced);
  EXPECT_TRUE(r.selectionChanged);
  EXPECT_EQ(s.SelectionLeft, 2);
  EXPECT_EQ(s.SelectionBottom, 2);
  r = HandleMapPress(s, session, At(s, 2, 2, PressMode::Manual));
  EXPECT_TRUE(r.manualPointAdded);
  EXPECT_EQ(session.ManualPointCount, 1);
  ASSERT_EQ(r.marks.size(), 1u);
  EXPECT_EQ(r.marks[0].colour, kManualPointColour);
  EXPECT_EQ(r.marks[0].left, 5);
  EXPECT_EQ(r.marks[0].right, 9);
}

TEST(MapPress, ManualModeFitsThreePointsAndReplacesTheOldest) {
  AppState s = MakeState(100, 80, 2);
  SphereSession session;
  EXPECT_FALSE(HandleMapPress(s, session, At(s, 40, 30, PressMode::Manual)).circleChanged);
  EXPECT_FALSE(HandleMapPress(s, session, At(s, 30, 40, PressMode::Manual)).circleChanged);
  PressResult r = HandleMapPress(s, session, At(s, 20, 30, PressMode::Manual));
  ASSERT_TRUE(r.circleChanged);
  EXPECT_EQ(s.Circle.CircleCentreX, 30);
  EXPECT_EQ(s.Circle.CircleCentreY, 30);
  EXPECT_DOUBLE_EQ(s.Circle.CircleRadius, 10);
  EXPECT_EQ(session.ManualPointCount, 3);
  EXPECT_EQ(session.ManualPoints[0][0], 20);  // newest first
  EXPECT_EQ(session.ManualPoints[2][1], 30);
  ASSERT_EQ(r.marks.size(), 2u);  // the circle: centre square and outline
  EXPECT_EQ(CountColour(r, kCircleColour), 2);
  // The fourth press drops (40, 30): the circle through (50, 30), (20, 30),
  // (30, 40) has its centre on cell (35, 25).
  r = HandleMapPress(s, session, At(s, 50, 30, PressMode::Manual));
  ASSERT_TRUE(r.circleChanged);
  EXPECT_EQ(session.ManualPointCount, 3);
  EXPECT_EQ(s.Circle.CircleCentreX, 35);
  EXPECT_EQ(s.Circle.CircleCentreY, 25);
  EXPECT_NEAR(s.Circle.CircleRadius, std::sqrt(250.0), 1e-5);
}

TEST(MapPress, IndeterminateCheckBoxOnlySelects) {
  AppState s = MakeState(40, 30, 5);
  SphereSession session;
  const PressResult r = HandleMapPress(s, session, At(s, 10, 12, PressMode::Indeterminate));
  EXPECT_TRUE(r.selectionChanged);
  EXPECT_TRUE(r.marks.empty());
  EXPECT_EQ(session.ManualPointCount, 0);
  EXPECT_EQ(s.SelectionTop, 12);
}

TEST(MapPress, AutomaticTraceClosesAndFits) {
  AppState s = MakeState(120, 100, 3);
  MidpointRing(s, 60, 50, 20);
  s.Circle.CircleCentreX = 5;
  s.Circle.CircleCentreY = 5;
  s.Circle.CircleRadius = 2;
  SphereSession session;
  const PressResult r = HandleMapPress(s, session, At(s, 40, 46, PressMode::Automatic));
  ASSERT_TRUE(r.traced);
  EXPECT_EQ(r.traceEnd, TraceEnd::Closed);
  EXPECT_TRUE(r.messages.empty());
  ASSERT_TRUE(r.circleChanged);
  EXPECT_NEAR(s.Circle.CircleCentreX, 60, 1);
  EXPECT_NEAR(s.Circle.CircleCentreY, 50, 1);
  EXPECT_NEAR(s.Circle.CircleRadius, 21, 1);
  // The old circle is drawn over first, then every move, every boundary cell
  // again, and the new circle last.
  const int n = r.boundaryCount;
  EXPECT_EQ(n, session.BoundaryCount);
  EXPECT_EQ(r.marks.front().colour, kCircleEraseColour);
  EXPECT_EQ(CountColour(r, kCircleEraseColour), 2);
  EXPECT_EQ(CountColour(r, kTraceColour), 2 * n);
  EXPECT_EQ(r.marks.back().colour, kCircleColour);
  // The boundary list holds every point twice, n rows apart.
  ASSERT_EQ(session.BoundaryList.size(), static_cast<size_t>(2 * n));
  for (int k = 0; k < n; ++k) {
    EXPECT_EQ(session.BoundaryList[k], session.BoundaryList[k + n]);
    EXPECT_EQ(session.BoundaryList[k][2], 0);
    const int x = static_cast<int>(session.BoundaryList[k][0]), y = static_cast<int>(session.BoundaryList[k][1]);
    EXPECT_EQ(session.BoundaryMarks[(y - 1) * 120 + (x - 1)], k + 1);
  }
  // The rotation limits were read from their fields (degrees) while 0.
  EXPECT_DOUBLE_EQ(s.Detection.RotationLimit, 60 * kPi / 180);
  EXPECT_DOUBLE_EQ(s.Detection.RotationChangeLimit, 35 * kPi / 180);
}

TEST(MapPress, AutomaticDeadEndOnAFlatResponse) {
  AppState s = MakeState(30, 20, 4);
  SphereSession session;
  const PressResult r = HandleMapPress(s, session, At(s, 15, 10, PressMode::Automatic));
  ASSERT_TRUE(r.traced);
  EXPECT_EQ(r.traceEnd, TraceEnd::DeadEnd);
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(r.messages[0].text, "Граница замкнулась не с началом");
  EXPECT_EQ(r.messages[0].title, "Неожиданное замыкание области");
  EXPECT_EQ(CountColour(r, kDeadEndColour), 1);
  EXPECT_EQ(r.boundaryCount, 1);
  // n = 1: the fit settles on cell (1, 1), one cell beyond the distance.
  ASSERT_TRUE(r.circleChanged);
  EXPECT_EQ(s.Circle.CircleCentreX, 1);
  EXPECT_EQ(s.Circle.CircleCentreY, 1);
  EXPECT_DOUBLE_EQ(s.Circle.CircleRadius, static_cast<double>(std::sqrt(14.0f * 14 + 9 * 9)) + 1);
}

TEST(MapPress, AutomaticStartMustBeTwoCellsInside) {
  AppState s = MakeState(30, 20, 4);
  SphereSession session;
  for (auto [x, y] : {std::pair{2, 10}, {29, 10}, {15, 2}, {15, 19}}) {
    const PressResult r = HandleMapPress(s, session, At(s, x, y, PressMode::Automatic));
    EXPECT_FALSE(r.traced);
    EXPECT_TRUE(r.messages.empty());
    EXPECT_TRUE(r.selectionChanged);
  }
  EXPECT_EQ(s.Detection.RotationLimit, 0);  // not even read
}

TEST(MapPress, TraceReachingTheMarginIsMarkedAsSuch) {
  AppState s = MakeState(30, 20, 4);
  for (int x = 2; x <= 4; ++x) s.ResultMap.set(x, 10, 19, -50);
  s.Detection.RotationLimit = 0.5;
  SphereSession session;
  const PressResult r = HandleMapPress(s, session, At(s, 5, 10, PressMode::Automatic));
  ASSERT_TRUE(r.traced);
  EXPECT_EQ(r.traceEnd, TraceEnd::EdgeReached);
  EXPECT_EQ(CountColour(r, kTraceEdgeColour), r.boundaryCount);
  EXPECT_EQ(s.Detection.RotationLimit, 0.5);  // a set limit is kept
}

TEST(MapPress, LayerOfAnotherSizeIsNotRead) {
  AppState s = MakeState(30, 20, 4);
  s.SetWidth = 60;  // the set grew but the map was not rebuilt
  SphereSession session;
  const PressResult r = HandleMapPress(s, session, At(s, 40, 10, PressMode::Automatic));
  EXPECT_TRUE(r.traced);
  EXPECT_EQ(r.traceEnd, TraceEnd::DeadEnd);
}

}  // namespace
}  // namespace ps

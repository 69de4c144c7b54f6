// A press of any mouse button on the polarization map, as a window-free state
// machine: automatic mode traces the sphere's outline from the pressed cell and
// fits a circle to it; manual mode collects three rim points and fits the
// circle through them. HandleMapPress applies the changes to the shared state
// (selection corners, the sphere circle) and to the session (boundary marks and
// list, manual points), and returns everything the window has to show: the
// marks to draw on the map, in order, and the message boxes.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "sphere/circle_fit.h"
#include "sphere/contour.h"
#include "sphere/trace.h"
#include "state/app_state.h"
#include "state/message.h"
#include "state/progress.h"

namespace ps {

// Colours of the marks (SphereRgb form: red + 256 green + 65536 blue).
inline constexpr uint32_t kManualPointColour = SphereRgb(192, 192, 0);
inline constexpr uint32_t kTraceColour = SphereRgb(192, 98, 0);
inline constexpr uint32_t kTraceEdgeColour = SphereRgb(162, 120, 120);
inline constexpr uint32_t kDeadEndColour = SphereRgb(192, 8, 29);
inline constexpr uint32_t kCircleColour = SphereRgb(0, 200, 0);
inline constexpr uint32_t kCircleEraseColour = SphereRgb(0, 39, 0);

// State of the check box "Выделять калибровочный шар в ручную".
enum class PressMode { Automatic, Manual, Indeterminate };

// One drawing on the map's persistent picture. Coordinates are screen pixels of
// the map at the zoom of the press.
enum class MarkKind {
  FilledRect,  // filled rectangle from (left, top) to (right, bottom), both corners included
  Circle,      // circle outline of `radius` about (centreX, centreY)
};
struct MapMark {
  MarkKind kind = MarkKind::FilledRect;
  uint32_t colour = 0;
  int cellX = 0;  // the cell a cell mark covers (0 for the circle's marks)
  int cellY = 0;
  double left = 0, top = 0, right = 0, bottom = 0;
  double centreX = 0, centreY = 0, radius = 0;
};

// The square covering cell (x, y): (x-1)Z, (y-1)Z to xZ-1, yZ-1 (one pixel at Z = 1).
MapMark CellMark(int x, int y, int zoom, uint32_t colour);
// The sphere circle as drawn: a small filled square at the centre and the
// outline of radius Z*R (two marks). Used by the press and by the map redraw.
std::vector<MapMark> CircleMarks(const SphereCircle& circle, int zoom, uint32_t colour = kCircleColour);

// Kept with the analysis window between presses.
struct SphereSession {
  std::vector<int32_t> BoundaryMarks;    // W x H, row-major; renewed (all 0) at every press
  int32_t BoundaryCount = 0;
  std::vector<BoundaryRow> BoundaryList; // 2n rows
  int16_t ManualPointCount = 0;          // 0 when the analysis window starts, held at 3
  std::array<std::array<int16_t, 2>, 3> ManualPoints{};  // (x, y), newest first
};

struct PressInput {
  float x = 0;  // pointer position in screen pixels of the map picture
  float y = 0;
  PressMode mode = PressMode::Automatic;
  // Texts of the settings fields for the two rotation limits ("Поворот
  // направления градиента", "Изменение поворота"), read when the limits are 0.
  std::string rotationLimitText = "60";
  std::string rotationChangeLimitText = "35";
  std::string decimalSeparator = ",";
};

struct PressResult {
  int cellX = 0;                   // the pressed cell (also the map's CellX, CellY)
  int cellY = 0;
  bool selectionChanged = false;   // the selection corners were all set to the cell
  std::vector<Message> messages;   // message boxes, in order
  std::vector<MapMark> marks;      // to draw on the map's persistent picture, in order
  bool circleChanged = false;      // state.Circle holds a new fit (show "Представить в виде шара")
  // The fit ran but gave no usable circle: the user is told why, state.Circle
  // is cleared (radius 0) and an earlier circle is painted over on the map.
  CircleRefusal refusal = CircleRefusal::None;
  bool traced = false;             // automatic mode ran a trace
  TraceEnd traceEnd = TraceEnd::DeadEnd;
  int boundaryCount = 0;
  bool manualPointAdded = false;
  bool busy = false;               // a fit ran: the window shows the hourglass meanwhile
};

// Handles one press. Reads SetWidth/SetHeight, Header.ImageWidth/ImageHeight,
// ZoomFactor, ResultMap layer 19 and Detection; writes the selection corners,
// Circle and Detection.RotationLimit/RotationChangeLimit (when 0) of `state`.
// A fit whose points or circle CheckFitPoints / CheckFittedCircle refuse sets
// no circle and clears the one there was; a cancelled fit changes nothing.
PressResult HandleMapPress(AppState& state, SphereSession& session, const PressInput& input,
                           const Progress& progress = {});

// The pressed cell for a pointer position: rounded (halves to even), clamped to
// the image, divided by the zoom.
std::pair<int, int> PressedCell(float x, float y, int zoom, int imageWidth, int imageHeight);

// Message texts.
inline constexpr const char* kEdgeMessage = "Не ближе, чем за 1 точку к краю";
inline constexpr const char* kDeadEndMessage = "Граница замкнулась не с началом";
inline constexpr const char* kDeadEndTitle = "Неожиданное замыкание области";
inline constexpr const char* kNoCircleTitle = "Окружность шара не найдена";
// The message of a refused fit: why, and whether an earlier circle was removed.
Message NoCircleMessage(CircleRefusal refusal, bool manual, int boundaryPoints, const CircleFit& fit, int width,
                        int height, bool hadCircle, const std::string& decimalSeparator);

}  // namespace ps

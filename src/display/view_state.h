// Window-side state of the analysis window's views and the logic of their event
// handlers, free of any window: the four source views and the map, their
// viewports and scroll bars, the zoom rules, the typed scale, the scroll
// coupling, the mouse readouts and the pulse of the selection marker.
//
// The window owns one DisplayState, calls the handler functions below from its
// events and redraws what the returned flags name (see map_view.h for drawing).
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "display/surface.h"
#include "state/app_state.h"
#include "state/message.h"

namespace ps {

// Geometry of a control in screen pixels of the window.
struct Box {
  double Left = 0;
  double Top = 0;
  double Width = 0;
  double Height = 0;
  bool Visible = true;
};

struct ScrollBar {
  bool Visible = false;
  int Min = 0;
  int Max = 0;
  int Value = 0;
  int SmallChange = 1;
  double Left = 0;
  double Top = 0;
};

// Mouse pointer shown over a source view: normal, zooming in, zooming out or refused.
enum class ViewPointer { Normal, ZoomIn, ZoomOut };

struct SourceView {
  Box Viewport;  // clips the picture
  Box Picture;   // the zoomed image; Left/Top are minus the scroll positions
  ScrollBar VBar;
  ScrollBar HBar;
  ViewPointer Pointer = ViewPointer::Normal;
};

// Layout constants of the analysis window.
inline constexpr double kSourceViewTop = 282;
inline constexpr double kSourceViewMaxWidth = 153;
inline constexpr double kSourceViewMaxHeight = 169;
inline constexpr std::array<double, 4> kSourceViewLeft = {0, 176, 360, 536};
inline constexpr double kMapLeft = 264;
inline constexpr double kMapTop = 40;
inline constexpr double kMapMaxWidth = 425;
inline constexpr double kMapMaxHeight = 169;
inline constexpr int kMaxZoom = 30;
inline constexpr int kZoomedLimit = 2000;  // zoom * set size stays below this

// The colour between grid cells (the map's background) and of unpainted cells.
inline constexpr Colour kGridColour = Rgb(96, 96, 96);

struct EllipseColourMemory {
  int Red = 0, Green = 0, Blue = 0;  // components of the previous conversion
};

// Where the views may lie in the window: the layout constants for the smallest
// window, wider and taller areas when the window is enlarged.
struct ViewArea {
  std::array<double, 4> SourceLeft = kSourceViewLeft;
  double SourceTop = kSourceViewTop;
  double SourceWidth = kSourceViewMaxWidth;
  double SourceHeight = kSourceViewMaxHeight;
  double MapLeft = kMapLeft;
  double MapTop = kMapTop;
  double MapWidth = kMapMaxWidth;
  double MapHeight = kMapMaxHeight;
};

struct DisplayState {
  std::array<SourceView, 4> Views;  // slot 1..4 at index 0..3
  ViewArea Area;                    // the room the views and the map may take
  Box MapViewport;                  // the map's viewport
  Box Map;                          // the map picture inside it
  ScrollBar VScroll5;
  ScrollBar HScroll5;

  bool Grid = false;         // "Сетка" ticked
  bool GridEnabled = true;   // "Сетка" available (zoom above 2)
  bool Ellipses = false;     // "Эллипсы поляризации" ticked
  int CellInsetX = 1;
  int CellInsetY = 1;
  double CellX = 0;          // cell under the mouse (or being drawn)
  double CellY = 0;

  std::string ScaleText = "900";  // the typed-scale box, percent
  bool ScaleVisible = false;

  // Readout labels: column, row, ellipticity angle, azimuth, intensity.
  std::string Label10, Label11, Label2, Label3, Label16;
  bool IntensityOptionsVisible = false;  // label and options of the intensity definition
  bool SphereButtonVisible = false;      // a sphere circle is known: draw it on the map

  // Selection marker: placed by the map redraw, coloured by the pulse.
  int MarkerPulse = 0;
  Box Marker{0, 0, 0, 0, false};
  Colour MarkerColour = 0;
  bool MarkerTimerStarted = false;  // the pulse runs only after the first map redraw

  // Pixel reading of a newly chosen file: its picture and the progress bar.
  bool ReadingPictureVisible = false;
  Box ProgressBar{0, 0, 1, 26, false};

  EllipseColourMemory EllipseMemory;
  std::string DecimalSeparator = ",";
};

// What a handler asks the window to redraw.
enum Redraw : unsigned {
  kRedrawNone = 0,
  kRedrawView1 = 1u << 0,
  kRedrawView2 = 1u << 1,
  kRedrawView3 = 1u << 2,
  kRedrawView4 = 1u << 3,
  kRedrawMap = 1u << 4,
};
constexpr unsigned RedrawViewFlag(int slot) { return 1u << (slot - 1); }

// "All views": every loaded slot's view, then the map when all four are loaded.
unsigned RedrawAllViews(const AppState& state);

// Cell inset for the current grid and zoom: 2 with the grid on above zoom 2, else 1.
int CellInset(const DisplayState& ds, int zoom);

// Layout of a source view (slot 1..4) for the current zoom: picture size,
// viewport, scroll bars; applies the bars' positions once. Returns true when the
// picture is to be cleared before painting (grid on).
bool LayoutSourceView(DisplayState& ds, const AppState& state, int slot);
// Layout of the map; sets the insets. Returns true when the map is to be cleared.
bool LayoutMap(DisplayState& ds, const AppState& state);
// The largest zoom, not above the one in force, at which the whole map fits
// into the map's area (at least 1).
int32_t ZoomFittingArea(const ViewArea& area, const AppState& state);

// Mouse press on a source view: buttons 1 or 3 zoom in, 2 or 4 zoom out.
unsigned ZoomByMouse(DisplayState& ds, AppState& state, int slot, int button);
// Typed scale in percent; always rewrites ScaleText with the zoom in force.
unsigned TypedScale(DisplayState& ds, AppState& state, const std::string& text);

// Scroll bars. Values are held within each bar's range; setting a bar to the
// value it has does nothing.
void ScrollSourceH(DisplayState& ds, int slot, int value);
void ScrollSourceV(DisplayState& ds, int slot, int value);
void ScrollMapV(DisplayState& ds, int value);
void ScrollMapH(DisplayState& ds, int value);

// Cell under a mouse position on a zoomed picture, clamped to the last opened
// image (and to the set): 1-based column and row.
struct CellPos {
  int X, Y;
};
CellPos CellUnderMouse(const AppState& state, double x, double y);

// Readout over a source view.
void SourceReadout(DisplayState& ds, AppState& state, int slot, double x, double y);
// Readout over the map; clears and redraws the preview ellipse on `preview`.
void MapReadout(DisplayState& ds, AppState& state, double x, double y, Surface& preview);

// Grid and ellipse boxes clicked (the flags already hold the new state).
unsigned GridClicked(const DisplayState& ds, const AppState& state);
unsigned EllipsesClicked(const DisplayState& ds, const AppState& state);

// One step of the marker's pulse; returns the new marker colour.
Colour MarkerPulseStep(DisplayState& ds);

// Width of the progress bar after `row` of `imageHeight` rows: row * 466 div height.
int ProgressBarWidth(long long row, int imageHeight);

// One tick of the pixel-reading timer: when a read is pending and the last
// opened file has the set's size, reads its pixels into the current slot,
// calling `repaint` after every row with the bar's new width, and asks for the
// slot's view to be redrawn. The pending flag is cleared in every case.
struct PendingReadOutcome {
  bool ran = false;               // pixels were read (or attempted)
  bool read = false;              // the slot received the file's pixels
  unsigned redraw = kRedrawNone;
  std::vector<Message> messages;  // reading failures
};
PendingReadOutcome PendingReadTick(DisplayState& ds, AppState& state,
                                   const std::function<void(int barWidth)>& repaint = {});

// Selection marker placement from the selection corners.
void PlaceSelectionMarker(DisplayState& ds, const AppState& state);

}  // namespace ps

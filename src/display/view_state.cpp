#include "display/view_state.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "display/map_view.h"
#include "imageio/bmp.h"
#include "polarization/polarization.h"
#include "state/number_format.h"

namespace ps {

unsigned RedrawAllViews(const AppState& state) {
  unsigned flags = 0;
  for (int k = 1; k <= kSlots; ++k)
    if (state.SlotLoaded[k - 1]) flags |= RedrawViewFlag(k);
  if (state.setComplete()) flags |= kRedrawMap;
  return flags;
}

int CellInset(const DisplayState& ds, int zoom) { return ds.Grid && zoom > 2 ? 2 : 1; }

namespace {

// Holds a value inside the bar's range; true when the value changed.
bool SetBarValue(ScrollBar& bar, int value) {
  value = std::clamp(value, bar.Min, std::max(bar.Min, bar.Max));
  if (value == bar.Value) return false;
  bar.Value = value;
  return true;
}

void ApplyMapV(DisplayState& ds);

// The change handler of a source view's vertical bar.
void ApplySourceV(DisplayState& ds, int slot) {
  const int v = ds.Views[slot - 1].VBar.Value;
  for (auto& view : ds.Views) view.Picture.Top = -v;
  for (int k = 1; k <= kSlots; ++k)
    if (k != slot && SetBarValue(ds.Views[k - 1].VBar, v)) ApplySourceV(ds, k);
  if (SetBarValue(ds.VScroll5, v)) ApplyMapV(ds);
}

// The change handler of a source view's horizontal bar (the map is not coupled).
void ApplySourceH(DisplayState& ds, int slot) {
  const int v = ds.Views[slot - 1].HBar.Value;
  for (auto& view : ds.Views) view.Picture.Left = -v;
  for (int k = 1; k <= kSlots; ++k)
    if (k != slot && SetBarValue(ds.Views[k - 1].HBar, v)) ApplySourceH(ds, k);
}

void ApplyMapV(DisplayState& ds) {
  const int v = ds.VScroll5.Value;
  ds.Map.Top = -v;
  for (auto& view : ds.Views) view.Picture.Top = -v;
  for (int k = 1; k <= kSlots; ++k)
    if (SetBarValue(ds.Views[k - 1].VBar, v)) ApplySourceV(ds, k);
}

void ApplyMapH(DisplayState& ds) { ds.Map.Left = -ds.HScroll5.Value; }

// Sets a bar's range and brings its value inside it.
void SetBarRange(ScrollBar& bar, int min, int max) {
  bar.Min = min;
  bar.Max = max;
  bar.Value = std::clamp(bar.Value, min, std::max(min, max));
}

bool ZoomFits(long long z, const AppState& state) {
  return z * state.SetWidth < kZoomedLimit && z * state.SetHeight < kZoomedLimit;
}

std::string WholeNumber(long long v) { return std::to_string(v); }

// A number as the plain conversion shows it: whole numbers without decimals,
// otherwise up to seven significant digits with the decimal separator.
std::string PlainNumber(double v, const std::string& sep) {
  if (std::nearbyint(v) == v && std::fabs(v) < 1e15) return std::to_string(static_cast<long long>(v));
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.7g", v);
  std::string s = buf;
  const auto dot = s.find('.');
  if (dot != std::string::npos) s.replace(dot, 1, sep);
  return s;
}

int ImageBound(int imageSize, int setSize) { return imageSize > 0 ? imageSize : setSize; }

}  // namespace

bool LayoutSourceView(DisplayState& ds, const AppState& state, int slot) {
  SourceView& v = ds.Views[slot - 1];
  const int s = state.ZoomFactor;
  const bool grid = ds.Grid && s > 2;
  ds.CellInsetX = ds.CellInsetY = grid ? 2 : 1;
  const double w = static_cast<double>(state.SetWidth) * s - (grid ? 1 : 0);
  const double h = static_cast<double>(state.SetHeight) * s - (grid ? 1 : 0);
  v.Picture.Width = w;
  v.Picture.Height = h;

  const double left = ds.Area.SourceLeft[static_cast<size_t>(slot - 1)];
  bool runV = false, runH = false;
  if (h < ds.Area.SourceHeight) {
    double half = (ds.Area.SourceHeight - h) / 2;
    if (slot == 2) half = std::trunc(half);
    v.Viewport.Top = ds.Area.SourceTop + half;
    v.Viewport.Height = h;
    v.VBar.Visible = false;
    v.Picture.Top = 0;
  } else {
    v.Viewport.Top = ds.Area.SourceTop;
    v.Viewport.Height = ds.Area.SourceHeight;
    SetBarRange(v.VBar, 0, static_cast<int>(h - ds.Area.SourceHeight));
    v.VBar.Visible = true;
    runV = true;
  }
  if (w < ds.Area.SourceWidth) {
    v.Viewport.Left = left + (ds.Area.SourceWidth - w) / 2;
    v.Viewport.Width = w;
    v.HBar.Visible = false;
    v.Picture.Left = 0;
  } else {
    v.Viewport.Left = left;
    v.Viewport.Width = ds.Area.SourceWidth;
    SetBarRange(v.HBar, 0, static_cast<int>(w - ds.Area.SourceWidth));
    v.HBar.Top = v.Viewport.Top + v.Viewport.Height;
    v.HBar.Visible = true;
    runH = true;
  }
  v.VBar.Left = v.Viewport.Left + v.Viewport.Width;
  if (runV) ApplySourceV(ds, slot);
  if (runH) ApplySourceH(ds, slot);
  v.Viewport.Visible = v.Picture.Visible = true;
  return grid;
}

bool LayoutMap(DisplayState& ds, const AppState& state) {
  const int s = state.ZoomFactor;
  const bool grid = ds.Grid && s > 2;
  ds.CellInsetX = ds.CellInsetY = grid ? 2 : 1;
  const double w = static_cast<double>(state.SetWidth) * s - (grid ? 1 : 0);
  const double h = static_cast<double>(state.SetHeight) * s - (grid ? 1 : 0);
  ds.Map.Width = w;
  ds.Map.Height = h;
  bool runV = false, runH = false;
  if (h < ds.Area.MapHeight) {
    ds.MapViewport.Top = ds.Area.MapTop + (ds.Area.MapHeight - h) / 2;
    ds.MapViewport.Height = h;
    ds.VScroll5.Visible = false;
    ds.Map.Top = 0;
  } else {
    ds.MapViewport.Top = ds.Area.MapTop;
    ds.MapViewport.Height = ds.Area.MapHeight;
    SetBarRange(ds.VScroll5, 0, RoundHalfEven(h - ds.Area.MapHeight));
    ds.VScroll5.Visible = true;
    runV = true;
  }
  if (w < ds.Area.MapWidth) {
    ds.MapViewport.Left = ds.Area.MapLeft + (ds.Area.MapWidth - w) / 2;
    ds.MapViewport.Width = w;
    ds.HScroll5.Visible = false;
    ds.Map.Left = 0;
  } else {
    ds.MapViewport.Left = ds.Area.MapLeft;
    ds.MapViewport.Width = ds.Area.MapWidth;
    SetBarRange(ds.HScroll5, 0, RoundHalfEven(w - ds.Area.MapWidth));
    ds.HScroll5.Top = ds.MapViewport.Top + ds.MapViewport.Height;
    ds.HScroll5.Visible = true;
    runH = true;
  }
  ds.VScroll5.Left = ds.MapViewport.Left + ds.MapViewport.Width;
  if (runV) ApplyMapV(ds);
  if (runH) ApplyMapH(ds);
  ds.Map.Visible = ds.MapViewport.Visible = true;
  return grid || state.Detection.ShowMode == 1;
}

int32_t ZoomFittingArea(const ViewArea& area, const AppState& state) {
  int32_t z = state.ZoomFactor;
  while (z > 1 && (static_cast<double>(z) * state.SetWidth > area.MapWidth ||
                   static_cast<double>(z) * state.SetHeight > area.MapHeight))
    --z;
  return std::max<int32_t>(z, 1);
}

unsigned ZoomByMouse(DisplayState& ds, AppState& state, int slot, int button) {
  state.CurrentSlot = slot;
  SourceView& v = ds.Views[slot - 1];
  if (button == 1 || button == 3) {
    const int z = state.ZoomFactor;
    if (z >= kMaxZoom || !ZoomFits(z + 1LL, state)) {
      v.Pointer = ViewPointer::ZoomOut;
      return kRedrawNone;
    }
    state.ZoomFactor = z + 1;
    if (state.ZoomFactor > 2) ds.GridEnabled = true;
  } else if (button == 2 || button == 4) {
    if (state.ZoomFactor <= 1) return kRedrawNone;
    state.ZoomFactor -= 1;
    if (state.ZoomFactor < 3) ds.GridEnabled = false;
  } else {
    return kRedrawNone;
  }
  v.VBar.SmallChange = v.HBar.SmallChange = state.ZoomFactor;
  v.Pointer = ViewPointer::Normal;
  return RedrawAllViews(state);
}

unsigned TypedScale(DisplayState& ds, AppState& state, const std::string& text) {
  unsigned flags = kRedrawNone;
  const auto number = ParseNumber(text, ds.DecimalSeparator);
  if (number && std::isfinite(*number) && *number / 100 < 1e6 && *number / 100 > -1e6) {
    const long long z = static_cast<long long>(std::nearbyint(*number / 100));
    if (z <= kMaxZoom && z > 0 && ZoomFits(z, state)) {
      state.ZoomFactor = static_cast<int32_t>(z);
      ds.Views[0].Pointer = ViewPointer::Normal;
      flags = RedrawAllViews(state);
      for (auto& view : ds.Views) view.HBar.SmallChange = view.VBar.SmallChange = state.ZoomFactor;
      ds.VScroll5.SmallChange = state.ZoomFactor;
    }
  }
  ds.ScaleText = WholeNumber(static_cast<long long>(state.ZoomFactor) * 100);
  return flags;
}

void ScrollSourceH(DisplayState& ds, int slot, int value) {
  if (SetBarValue(ds.Views[slot - 1].HBar, value)) ApplySourceH(ds, slot);
}
void ScrollSourceV(DisplayState& ds, int slot, int value) {
  if (SetBarValue(ds.Views[slot - 1].VBar, value)) ApplySourceV(ds, slot);
}
void ScrollMapV(DisplayState& ds, int value) {
  if (SetBarValue(ds.VScroll5, value)) ApplyMapV(ds);
}
void ScrollMapH(DisplayState& ds, int value) {
  if (SetBarValue(ds.HScroll5, value)) ApplyMapH(ds);
}

CellPos CellUnderMouse(const AppState& state, double x, double y) {
  const long long s = std::max(1, state.ZoomFactor);
  const int iw = ImageBound(state.Header.ImageWidth, state.SetWidth);
  const int ih = ImageBound(state.Header.ImageHeight, state.SetHeight);
  const long long mx = std::clamp<long long>(RoundHalfEven(x), 0, std::max<long long>(0, s * iw - s));
  const long long my = std::clamp<long long>(RoundHalfEven(y), 0, std::max<long long>(0, s * ih - s));
  return {static_cast<int>(mx / s + 1), static_cast<int>(my / s + 1)};
}

void SourceReadout(DisplayState& ds, AppState& state, int slot, double x, double y) {
  state.CurrentSlot = slot;
  const CellPos c = CellUnderMouse(state, x, y);
  ds.Label10 = "Х:  " + WholeNumber(c.X);
  ds.Label11 = "Y:  " + WholeNumber(c.Y);
  ds.Label2.clear();
  ds.Label3.clear();
  if (state.Header.FileSignature != "BM") return;
  // The pixel must exist in the store (a file of another size may have been opened last).
  if (state.ImageStore.empty() || c.X > state.ImageStore.width() || c.Y > state.ImageStore.height()) return;
  const int mode = state.IntensityMode;
  if (mode != kModeMean && mode != kModeMax && mode != kModeLuma) return;
  const bool coloured = state.ColouredPixelCount[slot - 1] != 0;
  const std::string& sep = ds.DecimalSeparator;
  const std::string head = "Интенсивность ";
  if (state.Header.BitsPerPixel == 24) {
    const int r = state.ImageStore.at(c.X, c.Y, 0, slot), g = state.ImageStore.at(c.X, c.Y, 1, slot),
              b = state.ImageStore.at(c.X, c.Y, 2, slot);
    if (!coloured)
      ds.Label16 = head + WholeNumber(r);
    else if (mode == kModeMean)
      ds.Label16 = head + FormatNumber((r + g + b) / 3.0, "0.00", sep);
    else if (mode == kModeMax)
      ds.Label16 = head + WholeNumber(std::max({r, g, b}));
    else
      ds.Label16 = head + FormatNumber(0.299 * r + 0.587 * g + 0.114 * b, "0.00", sep);
  } else if (state.Header.BitsPerPixel == 8) {
    const auto& p = state.PaletteTable[state.ImageStore.at(c.X, c.Y, 0, slot)];
    if (!coloured)
      ds.Label16 = head + PlainNumber(p[0], sep);
    else if (mode == kModeMean)
      ds.Label16 = head + FormatNumber((double(p[0]) + p[1] + p[2]) / 3.0, "0.00", sep);
    else if (mode == kModeMax)
      ds.Label16 = head + PlainNumber(std::max({p[0], p[1], p[2]}), sep);
    else
      ds.Label16 = head + FormatNumber(0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2], "0.00", sep);
  }
}

void MapReadout(DisplayState& ds, AppState& state, double x, double y, Surface& preview) {
  CellPos c = CellUnderMouse(state, x, y);
  // The cell must lie on the map even when the last opened file is larger than the set.
  c.X = std::min(c.X, std::max(1, state.SetWidth));
  c.Y = std::min(c.Y, std::max(1, state.SetHeight));
  ds.CellX = c.X;
  ds.CellY = c.Y;
  ds.Label10 = "Х:  " + WholeNumber(c.X);
  ds.Label11 = "Y:  " + WholeNumber(c.Y);
  if (state.ResultMap.empty() || c.X > state.ResultMap.width() || c.Y > state.ResultMap.height()) return;
  ОпределениеИнтенсивностей(state, c.X, c.Y);
  preview.clear();
  const PixelValues& v = state.Current;
  ds.Label2 = "Угол элл-ти = ±" + FormatNumber(v.EllipticityAngle, "0.000", ds.DecimalSeparator);
  ds.Label3 = "Азимут = " + FormatNumber(v.Azimuth, "0.000", ds.DecimalSeparator);
  ds.Label16 = "Интенсивность = " + FormatNumber(v.A0, "0.00", ds.DecimalSeparator);
  if (!DrawPreviewEllipse(preview, state.Current.AxisRatio, v.Azimuth, v.UndefinedMarker)) {
    ds.Label2.clear();
    ds.Label3.clear();
  }
}

unsigned GridClicked(const DisplayState&, const AppState& state) { return RedrawAllViews(state); }

unsigned EllipsesClicked(const DisplayState& ds, const AppState& state) {
  return ds.Ellipses && state.setComplete() ? kRedrawMap : kRedrawNone;
}

Colour MarkerPulseStep(DisplayState& ds) {
  ds.MarkerPulse = ds.MarkerPulse < 20 ? ds.MarkerPulse + 1 : 1;
  const int d = ds.MarkerPulse - 10;
  ds.MarkerColour = Rgb(0, 0, std::min(255, 2 * d * d + 93)) | kPaletteFlag;
  return ds.MarkerColour;
}

int ProgressBarWidth(long long row, int imageHeight) {
  return imageHeight > 0 ? static_cast<int>(row * 466 / imageHeight) : 0;
}

PendingReadOutcome PendingReadTick(DisplayState& ds, AppState& state, const std::function<void(int)>& repaint) {
  PendingReadOutcome out;
  if (!state.PendingRead || state.Header.ImageWidth != state.SetWidth ||
      state.Header.ImageHeight != state.SetHeight || state.CurrentSlot < 1 || state.CurrentSlot > kSlots) {
    ds.ReadingPictureVisible = false;
    state.PendingRead = false;
    return out;
  }
  out.ran = true;
  ds.ReadingPictureVisible = true;
  ds.ProgressBar.Visible = true;
  ds.ProgressBar.Width = 1;
  ds.ProgressBar.Height = 26;
  Progress progress;
  const int height = state.Header.ImageHeight;
  progress.report = [&](long long done, long long) {
    ds.ProgressBar.Width = ProgressBarWidth(done, height);
    if (repaint) repaint(static_cast<int>(ds.ProgressBar.Width));
  };
  PixelReadOutcome r = ReadBitmapPixels(state, state.Header.FilePath, state.CurrentSlot, progress);
  out.read = r.read;
  out.messages = std::move(r.messages);
  out.redraw = RedrawViewFlag(state.CurrentSlot);
  ds.ReadingPictureVisible = false;
  ds.ProgressBar.Visible = false;  // the window may shrink it first, 25 steps from 26 to 1 high
  state.PendingRead = false;
  return out;
}

void PlaceSelectionMarker(DisplayState& ds, const AppState& state) {
  const double s = state.ZoomFactor;
  ds.Marker.Left = (state.SelectionLeft - 1) * s;
  ds.Marker.Top = (state.SelectionTop - 1) * s;
  ds.Marker.Width = (state.SelectionLeft - state.SelectionRight + 1) * s;
  ds.Marker.Height = (state.SelectionTop - state.SelectionBottom + 1) * s;
  // A marker without a positive size (the start-up corners) is not shown.
  ds.Marker.Visible = ds.Marker.Width > 0 && ds.Marker.Height > 0;
}

}  // namespace ps

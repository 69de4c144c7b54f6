#include "display/map_view.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "polarization/polarization.h"
#include "sphere/azimuth_smoothing.h"

namespace ps {

Colour ChangeMapColour(double sumE, double sumA, double ellipticitySensitivity, double azimuthSensitivity,
                       bool undefined) {
  if (undefined) return Rgb(100, 0, 255) | kPaletteFlag;
  const int red = RoundHalfEven(std::fabs(sumE) * 255 / (kPi / 4) * ellipticitySensitivity);
  const int green = RoundHalfEven(std::fabs(sumA) * 255 / (kPi / 2) * azimuthSensitivity);
  return Rgb(red, green, 0) | kPaletteFlag;
}

Colour ЦветДляЭллипса(double axisRatio, double azimuth, EllipseColourMemory& previous) {
  const float pi = static_cast<float>(kPi);
  const float k = static_cast<float>(axisRatio);
  float S, V;
  if (std::fabs(k) < 1.0f) {
    S = 1.0f - 3.0f * k / 4.0f;
    V = 255.0f * (1.0f - k / 4.0f);
  } else {
    S = 0.0f;
    V = 235.0f;
  }
  const float phi = static_cast<float>(azimuth);
  const float H = phi >= 0 ? 6.0f * phi / pi : 6.0f * (phi + pi) / pi;
  const float fl = std::floor(H);
  const float f = H - fl;
  const float p = (1.0f - S) * V, q = (1.0f - f * S) * V, t = (1.0f - (1.0f - f) * S) * V;
  float r, g, b;
  bool known = true;
  if (!(fl >= 0 && fl <= 6)) {
    known = false;  // NaN or out of the colour circle
    r = g = b = 0;
  } else {
    switch (static_cast<int>(fl)) {
      case 0:
      case 6: r = V, g = t, b = p; break;
      case 1: r = q, g = V, b = p; break;
      case 2: r = p, g = V, b = t; break;
      case 3: r = p, g = q, b = V; break;
      case 4: r = t, g = p, b = V; break;
      case 5: r = V, g = p, b = q; break;
      default: known = false, r = g = b = 0; break;
    }
  }
  if (known) {
    previous.Red = RoundHalfEven(r);
    previous.Green = RoundHalfEven(g);
    previous.Blue = RoundHalfEven(b);
  }
  return Rgb(previous.Red, previous.Green, previous.Blue) | kPaletteFlag;
}

CellRect CellRectangle(int i, int j, int zoom, int inset) {
  return {(i - 1) * zoom, (j - 1) * zoom, i * zoom - inset, j * zoom - inset};
}

PixelLayers::PixelLayers(const AppState& state) {
  const ResultLayers& m = state.ResultMap;
  if (m.empty()) return;
  const int g = FirstLayer(DefinitionForMode(state.IntensityMode));
  A0 = m.layer(g);
  AxisRatio = m.layer(g + 1);
  EllipticityAngle = m.layer(g + 2);
  Azimuth = m.layer(g + 3);
  UndefinedMarker = m.layer(g + 4);
  if (A0 && AxisRatio && EllipticityAngle && Azimuth && UndefinedMarker) {
    Width = m.width();
    Height = m.height();
  }
}

namespace {

// The polar angles of the outline's vertices, built by the same repeated
// addition as the tracing loops, with their tangents and sign flips.
struct OutlineAngles {
  std::vector<double> tan;
  std::vector<double> signX, signY;
  OutlineAngles(double start, double step, double end) {
    for (double t = start; t < end; t += step) {
      tan.push_back(std::tan(t));
      signX.push_back(kPi / 2 < t && t < kUndefinedMarker / 2 ? -1.0 : 1.0);
      signY.push_back(t > kPi ? -1.0 : 1.0);
    }
  }
};

const OutlineAngles& GlyphAngles() {
  static const OutlineAngles angles(0.0, 0.31415, 6.597339);  // 22 vertices
  return angles;
}

const OutlineAngles& PreviewAngles() {
  static const OutlineAngles angles(0.0, 0.1047, 6.38318);  // 61 vertices
  return angles;
}

// Vertex i of an ellipse outline relative to its centre, rotated by the azimuth
// (screen y down). False when the tracing stops at this vertex. The tracing
// stops when a vertex falls outside the major axis; in exact arithmetic that
// never happens, so a rounding excess of a few units in the last place is
// taken as the axis end instead of ending the outline.
bool OutlineVertex(const OutlineAngles& angles, size_t i, double a, double b, double cosPhi, double sinPhi,
                   double* outX, double* outY) {
  const double tn = angles.tan[i];
  const double ratio = b / a;
  if (std::fabs(tn) + std::fabs(ratio) == 0) return false;
  double X = std::fabs(b) / std::sqrt(tn * tn + ratio * ratio);
  if (std::fabs(X) > std::fabs(a) * (1 + 1e-12)) return false;
  if (std::fabs(X) > std::fabs(a)) X = std::fabs(a);
  double Y = b * std::sqrt(1 - (X / a) * (X / a));
  X *= angles.signX[i];
  Y *= angles.signY[i];
  *outX = X * cosPhi - Y * sinPhi;
  *outY = -X * sinPhi - Y * cosPhi;
  return true;
}

}  // namespace

void DrawEllipseGlyph(Surface& s, int x, int y, int zoom, int inset, double axisRatio, double azimuth,
                      EllipseColourMemory& memory) {
  const double a = (zoom - inset) / 2.0;
  const double b = a * axisRatio;
  const double xc = static_cast<double>(x) * zoom - inset - a;
  const double yc = static_cast<double>(y) * zoom - inset - a;
  const Colour colour = ЦветДляЭллипса(axisRatio, azimuth, memory);
  const double c = std::cos(azimuth), sn = std::sin(azimuth);
  double px = xc + a * c, py = yc - a * sn;
  s.point(px, py, colour);
  if (zoom <= 2) {
    const CellRect r = CellRectangle(x, y, zoom, inset);
    s.fillRect(r.X1, r.Y1, r.X2, r.Y2, colour);
    return;
  }
  // The vertices first (independent of each other, so they pipeline), then the lines.
  const OutlineAngles& angles = GlyphAngles();
  constexpr size_t kMaxVertices = 32;
  double vx[kMaxVertices], vy[kMaxVertices];
  size_t n = 0;
  const size_t count = std::min(angles.tan.size(), kMaxVertices);
  while (n < count && OutlineVertex(angles, n, a, b, c, sn, &vx[n], &vy[n])) ++n;
  for (size_t i = 0; i < n; ++i) {
    s.line(px, py, xc + vx[i], yc + vy[i], colour);
    px = xc + vx[i];
    py = yc + vy[i];
  }
}

bool DrawPreviewEllipse(Surface& preview, double& axisRatio, double azimuth, double undefinedMarker) {
  const Colour black = Rgb(0, 0, 0);
  const double a = preview.width() / 2.0 - 1;
  if (axisRatio == 0) axisRatio = 0.000001;
  const double b = a * axisRatio;
  const double c = std::cos(azimuth), sn = std::sin(azimuth);
  double px = 0, py = 0;
  if (undefinedMarker < kUndefinedMarker) {
    px = a + a * c;
    py = a - a * sn;
    preview.point(px, py, black);
  }
  // The tracing starts at the undefined marker's value: 0 for a defined pixel,
  // past the end for an undefined one.
  const OutlineAngles& angles = PreviewAngles();
  if (undefinedMarker != 0) {
    if (!(undefinedMarker < 6.38318)) return true;
    const OutlineAngles shifted(undefinedMarker, 0.1047, 6.38318);
    for (size_t i = 0; i < shifted.tan.size(); ++i) {
      double dx, dy;
      if (!OutlineVertex(shifted, i, a, b, c, sn, &dx, &dy)) return false;
      preview.line(px, py, a + dx, a + dy, black);
      px = a + dx;
      py = a + dy;
    }
    return true;
  }
  for (size_t i = 0; i < angles.tan.size(); ++i) {
    double dx, dy;
    if (!OutlineVertex(angles, i, a, b, c, sn, &dx, &dy)) {
      if (std::fabs(angles.tan[i]) + std::fabs(b / a) == 0) return true;
      return false;
    }
    preview.line(px, py, a + dx, a + dy, black);
    px = a + dx;
    py = a + dy;
  }
  return true;
}

void UvelicheniePolyarizacii(Surface& map, DisplayState& ds, AppState& state) {
  const bool clear = LayoutMap(ds, state);
  const int s = state.ZoomFactor;
  const int inset = ds.CellInsetX;
  map.setBackground(kGridColour);
  map.resize(static_cast<int>(ds.Map.Width), static_cast<int>(ds.Map.Height));
  if (clear) map.clear();

  const PixelLayers px(state);
  const int W = std::min(state.SetWidth, px.Width);
  const int H = std::min(state.SetHeight, px.Height);
  const bool changeMap = state.Detection.ShowMode == 1;
  const auto& wk = state.Detection.WeightKernel;
  const auto& sk = state.Detection.SubtractKernel;
  const double eSens = state.Detection.EllipticitySensitivity;
  const double aSens = state.Detection.AzimuthSensitivity;

  for (int y = 1; y <= H; ++y) {
    for (int x = 1; x <= W; ++x) {
      const size_t at = px.index(x, y);
      const double und = px.UndefinedMarker[at];
      const double k = px.AxisRatio[at];
      const double phi = px.Azimuth[at];
      const CellRect r = CellRectangle(x, y, s, inset);
      if (!changeMap) {
        if (!(s < 3 && ds.Ellipses && und < kUndefinedMarker)) {
          const int g = RoundHalfEven(px.A0[at]);
          map.fillRect(r.X1, r.Y1, r.X2, r.Y2, Rgb(g, g, g) | kPaletteFlag);
        }
      } else if (!(x <= 2 || x >= W - 1 || y <= 2 || y >= H - 1)) {
        double sumE = 0;
        AzimuthSum azimuths(phi);
        for (int j = y - 2; j <= y + 2; ++j)
          for (int i = x - 2; i <= x + 2; ++i) {
            const float d = wk[i - x + 2][j - y + 2] - sk[i - x + 2][j - y + 2];
            const size_t n = px.index(i, j);
            sumE += d * px.AxisRatio[n] / 100;
            azimuths.add(d, px.Azimuth[n]);
          }
        const double sumA = azimuths.value();
        map.fillRect(r.X1, r.Y1, r.X2, r.Y2, ChangeMapColour(sumE, sumA, eSens, aSens, und != 0));
      }
      if (ds.Ellipses && und < kUndefinedMarker) DrawEllipseGlyph(map, x, y, s, inset, k, phi, ds.EllipseMemory);
    }
  }
  ds.IntensityOptionsVisible = std::any_of(state.ColouredPixelCount.begin(), state.ColouredPixelCount.end(),
                                           [](int32_t n) { return n != 0; });
  PlaceSelectionMarker(ds, state);
  if (ds.SphereButtonVisible) DrawSphereCircle(map, s, state.Circle);
  ds.MarkerTimerStarted = true;
}

void Uvelichenie(Surface& picture, DisplayState& ds, const AppState& state, int slot) {
  ds.ScaleText = std::to_string(static_cast<long long>(state.ZoomFactor) * 100);
  ds.ScaleVisible = true;
  LayoutSourceView(ds, state, slot);
  const SourceView& v = ds.Views[slot - 1];
  picture.setBackground(kGridColour);
  picture.resize(static_cast<int>(v.Picture.Width), static_cast<int>(v.Picture.Height));
  const int s = state.ZoomFactor;
  const int inset = ds.CellInsetX;
  if (state.Header.FileSignature == "BM" && !state.ImageStore.empty()) {
    const int W = std::min(state.SetWidth, state.ImageStore.width());
    const int H = std::min(state.SetHeight, state.ImageStore.height());
    const int bits = state.Header.BitsPerPixel;
    if (bits == 24 || bits == 8) {
      for (int y = 1; y <= H; ++y) {
        const uint8_t* row = state.ImageStore.row(y, slot);
        for (int x = 1; x <= W; ++x) {
          const uint8_t* p = row + static_cast<size_t>(x - 1) * 3;
          Colour c;
          if (bits == 24) {
            c = Rgb(p[0], p[1], p[2]);
          } else {
            const auto& e = state.PaletteTable[p[0]];
            c = Rgb(RoundHalfEven(e[0]), RoundHalfEven(e[1]), RoundHalfEven(e[2]));
          }
          const CellRect r = CellRectangle(x, y, s, inset);
          picture.fillRect(r.X1, r.Y1, r.X2, r.Y2, c | kPaletteFlag);
        }
      }
    }
  }
  ds.IntensityOptionsVisible = std::any_of(state.ColouredPixelCount.begin(), state.ColouredPixelCount.end(),
                                           [](int32_t n) { return n != 0; });
}

void DrawSphereCircle(Surface& map, int zoom, const SphereCircle& circle, Colour colour, bool centreMark) {
  const double x = (circle.CircleCentreX - 0.5) * zoom;
  const double y = (circle.CircleCentreY - 0.5) * zoom;
  if (centreMark) {
    const int x1 = RoundHalfEven(x), y1 = RoundHalfEven(y);
    map.fillRect(x1, y1, RoundHalfEven(x - 2), RoundHalfEven(y - 2), colour);
  }
  map.circle(x - 1, y - 1, circle.CircleRadius * zoom, colour);
}

void DrawSelectionMarker(Surface& s, const DisplayState& ds) {
  if (!ds.Marker.Visible) return;
  const int x1 = RoundHalfEven(ds.Marker.Left), y1 = RoundHalfEven(ds.Marker.Top);
  const int x2 = RoundHalfEven(ds.Marker.Left + ds.Marker.Width) - 1;
  const int y2 = RoundHalfEven(ds.Marker.Top + ds.Marker.Height) - 1;
  s.line(x1, y1, x2, y1, ds.MarkerColour);
  s.line(x2, y1, x2, y2, ds.MarkerColour);
  s.line(x2, y2, x1, y2, ds.MarkerColour);
  s.line(x1, y2, x1, y1, ds.MarkerColour);
}

void DrawCellMark(Surface& map, int zoom, int x, int y, Colour colour) {
  if (zoom <= 1) {
    map.point(x - 1, y - 1, colour);
    return;
  }
  map.fillRect((x - 1) * zoom, (y - 1) * zoom, x * zoom - 1, y * zoom - 1, colour);
}

}  // namespace ps

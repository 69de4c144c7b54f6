#include "polarization/polarization.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace ps {

int FirstLayer(Definition d) {
  switch (d) {
    case Definition::Mean: return 7;
    case Definition::Luma: return 13;
    default: return 1;
  }
}

Definition DefinitionForMode(int32_t mode) {
  if (mode == kModeMean) return Definition::Mean;
  if (mode == kModeLuma) return Definition::Luma;
  return Definition::Max;
}

int32_t ModeForDefinition(Definition d) {
  switch (d) {
    case Definition::Mean: return kModeMean;
    case Definition::Luma: return kModeLuma;
    default: return kModeMax;
  }
}

const char* DefinitionName(Definition d) {
  switch (d) {
    case Definition::Mean: return "mean";
    case Definition::Luma: return "luma";
    default: return "max";
  }
}

bool ParseDefinition(const std::string& name, Definition* out) {
  if (name == "max") *out = Definition::Max;
  else if (name == "mean") *out = Definition::Mean;
  else if (name == "luma") *out = Definition::Luma;
  else return false;
  return true;
}

double Intensity(const AppState& s, Definition d, int x, int y, int slot) {
  if (s.Header.BitsPerPixel == 8) {
    const auto& p = s.PaletteTable[s.ImageStore.at(x, y, 0, slot)];
    return IntensityOf(d, p[0], p[1], p[2]);
  }
  return IntensityOf(d, s.ImageStore.at(x, y, 0, slot), s.ImageStore.at(x, y, 1, slot),
                     s.ImageStore.at(x, y, 2, slot));
}

PixelValues Вычисление_a0_a2_b2(const std::array<double, 4>& in) {
  const double i0 = in[0], i45 = in[1], i90 = in[2], i135 = in[3];
  PixelValues v;
  v.A0 = (i0 + i45 + i90 + i135) / 4;
  v.A2 = (i0 - i90) / 2;
  v.B2 = (i45 - i135) / 2;
  v.Amplitude = static_cast<float>(std::sqrt(v.B2 * v.B2 + v.A2 * v.A2));
  const double amp = v.Amplitude;

  // Ellipticity. The first test compares in single precision; a pixel whose
  // A0 - Amplitude is still negative in double precision is undefined as well.
  const float a = static_cast<float>(v.A0);
  if (a < v.Amplitude || amp + v.A0 == 0 || v.A0 - amp < 0) {
    v.UndefinedMarker = kUndefinedMarker;
    v.AxisRatio = 1.0;
    v.EllipticityAngle = kCircularAngle;
  } else {
    v.AxisRatio = std::sqrt((v.A0 - amp) / (amp + v.A0));
    v.EllipticityAngle = std::atan(v.AxisRatio);
    v.UndefinedMarker = 0;
  }

  // Azimuth: the first rule whose condition holds.
  auto atanRatio = [&] { return std::atan((i45 - i135) / (i0 - i90)); };
  if ((i0 > i90 && i135 > i45 && i0 >= i45 && i135 >= i90) || (i0 > i90 && i45 > i135 && i0 >= i135 && i45 >= i90)) {
    v.Azimuth = atanRatio() / 2;  // A
  } else if (i45 >= i0 && i45 > i135 && i90 > i0 && i90 >= i135) {
    v.Azimuth = (atanRatio() + kPi) / 2;  // B
  } else if (i90 > i0 && i90 >= i45 && i135 >= i0 && i135 > i45) {
    v.Azimuth = (atanRatio() - kPi) / 2;  // C
  } else if (i0 == i90 && i45 >= i0 && i45 > i135) {
    v.Azimuth = kPi / 4;  // D
  } else if (i0 == i90 && i135 > i45 && i135 >= i0) {
    v.Azimuth = -kPi / 4;  // E
  } else if (i45 == i135 && i0 > i90 && i0 >= i45) {
    v.Azimuth = 0;  // F
  } else if (i45 == i135 && i90 > i0 && i90 >= i45) {
    v.Azimuth = kPi / 2;  // G
  } else if (i0 == i45 && i45 == i90 && i90 == i135) {
    v.Azimuth = 0;  // H: unpolarized
    v.AxisRatio = 1.0;
    v.EllipticityAngle = kCircularAngle;
  } else if (i0 > i45) {
    v.Azimuth = 0;  // I
  } else {
    v.Azimuth = kPi / 4;  // J
  }
  return v;
}

PixelValues ОпределениеИнтенсивностей(const AppState& s, int x, int y) {
  const ResultLayers& m = s.ResultMap;
  if (m.empty()) throw std::out_of_range("layer lookup before the result map exists");
  const int g = FirstLayer(DefinitionForMode(s.IntensityMode));
  if (!m.hasStorage(g)) throw std::out_of_range("layer lookup of a definition that has not been processed");
  PixelValues v;
  v.A0 = m.at(x, y, g);
  v.AxisRatio = m.at(x, y, g + 1);
  v.EllipticityAngle = m.at(x, y, g + 2);
  v.Azimuth = m.at(x, y, g + 3);
  v.UndefinedMarker = m.at(x, y, g + 4);
  return v;
}

void ОпределениеИнтенсивностей(AppState& s, int x, int y) {
  const PixelValues v = ОпределениеИнтенсивностей(static_cast<const AppState&>(s), x, y);
  s.Current.A0 = v.A0;
  s.Current.AxisRatio = v.AxisRatio;
  s.Current.EllipticityAngle = v.EllipticityAngle;
  s.Current.Azimuth = v.Azimuth;
  s.Current.UndefinedMarker = v.UndefinedMarker;
}

namespace {
constexpr Definition kDefinitions[3] = {Definition::Max, Definition::Mean, Definition::Luma};
}  // namespace

bool SetIsProcessable(const AppState& s) {
  return s.Header.FileSignature == "BM" && (s.Header.BitsPerPixel == 8 || s.Header.BitsPerPixel == 24) &&
         !s.ImageStore.empty() && s.ImageStore.width() == s.SetWidth && s.ImageStore.height() == s.SetHeight;
}

void ЗаполнениеМассиваReference(AppState& s) {
  s.createResultMap();
  for (int x = 1; x <= s.SetWidth; ++x) {
    for (int y = 1; y <= s.SetHeight; ++y) {
      if (!SetIsProcessable(s)) continue;
      for (Definition d : kDefinitions) {
        std::array<double, 4> in;
        for (int k = 1; k <= 4; ++k) in[k - 1] = Intensity(s, d, x, y, k);
        const PixelValues v = Вычисление_a0_a2_b2(in);
        const int g = FirstLayer(d);
        s.ResultMap.set(x, y, g, v.A0);
        s.ResultMap.set(x, y, g + 1, v.AxisRatio);
        s.ResultMap.set(x, y, g + 2, v.EllipticityAngle);
        s.ResultMap.set(x, y, g + 3, v.Azimuth);
        s.ResultMap.set(x, y, g + 4, v.UndefinedMarker);
      }
    }
  }
}

}  // namespace ps

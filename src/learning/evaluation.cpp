#include "learning/evaluation.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <sstream>

#include "learning/files.h"
#include "learning/text_encoding.h"
#include "state/number_format.h"

namespace ps {

namespace {

constexpr double kHalfPi = 1.5707963267948966;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

Message Refusal(const std::string& text) { return Message{text, "Оценка невозможна", MessageIcon::Exclamation}; }

// Mean |p - h|, RMS of p - h and the correlation of p with h over the cells,
// the prediction taken by `predict`.
template <typename Predict>
PredictorFigures Figures(const std::vector<HeightCell>& cells, Predict&& predict) {
  PredictorFigures f;
  f.correlation = kNaN;
  if (cells.empty()) return f;
  const double n = static_cast<double>(cells.size());
  double abs = 0, sq = 0, meanP = 0, meanH = 0;
  for (const HeightCell& c : cells) {
    const double p = predict(c), e = p - c.target;
    abs += std::fabs(e);
    sq += e * e;
    meanP += p;
    meanH += c.target;
  }
  meanP /= n;
  meanH /= n;
  double sPH = 0, sPP = 0, sHH = 0;
  for (const HeightCell& c : cells) {
    const double dp = predict(c) - meanP, dh = c.target - meanH;
    sPH += dp * dh;
    sPP += dp * dp;
    sHH += dh * dh;
  }
  f.meanAbsError = abs / n;
  f.rmsError = std::sqrt(sq / n);
  f.correlation = sPP > 0 && sHH > 0 ? sPH / std::sqrt(sPP * sHH) : kNaN;
  return f;
}

std::optional<std::string> ReadWhole(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return std::nullopt;
  std::string text;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
  std::fclose(f);
  return text;
}

std::string Fixed(double v, const std::string& sep, const char* pattern = "0.000") {
  return std::isfinite(v) ? FormatNumber(v, pattern, sep) : std::string("—");
}

}  // namespace

// ---------------------------------------------------------------- Fresnel model

double DiffuseZenithAngle(double dop, double n) {
  if (std::isnan(dop)) return dop;
  if (dop <= 0) return 0;
  if (dop >= DiffuseDegreeOfPolarization(kHalfPi, n)) return kHalfPi;
  // The model rises monotonically on [0, pi/2]: halve the bracket until it
  // cannot shrink any more (about 55 steps).
  double lo = 0, hi = kHalfPi;
  for (;;) {
    const double mid = 0.5 * (lo + hi);
    if (mid <= lo || mid >= hi) break;
    (DiffuseDegreeOfPolarization(mid, n) < dop ? lo : hi) = mid;
  }
  return 0.5 * (lo + hi);
}

double DegreeOfPolarizationFromAxisRatio(double r) { return (1 - r * r) / (1 + r * r); }

double FresnelHeight(double axisRatio, double n) {
  return 1 - std::cos(DiffuseZenithAngle(DegreeOfPolarizationFromAxisRatio(axisRatio), n));
}

// ---------------------------------------------------------------- summary

int RingOfRho(double rho) {
  if (!(rho > 0)) return 0;
  const int k = static_cast<int>(std::floor(rho * 10));
  return k < 0 ? 0 : (k >= kRingCount ? kRingCount - 1 : k);
}

std::vector<HeightCell> CollectHeightCells(const CellNetwork& network, double refractiveIndex) {
  std::vector<HeightCell> cells;
  cells.reserve(static_cast<size_t>(network.insideCount()));
  const SphereCircle& c = network.circle();
  for (int x = 1; x <= network.width(); ++x)
    for (int y = 1; y <= network.height(); ++y) {
      const CellRecord& r = network.cell(x, y);
      if (r.Inside != 1) continue;
      HeightCell h;
      h.x = x;
      h.y = y;
      h.rho = std::hypot(x - c.CircleCentreX, y - c.CircleCentreY) / c.CircleRadius;
      h.target = r.Target;
      h.output = network.output(x, y);
      h.physics = FresnelHeight(r.AxisRatio, refractiveIndex);
      cells.push_back(h);
    }
  return cells;
}

HeightSummary SummarizeHeights(const std::vector<HeightCell>& cells, double refractiveIndex) {
  HeightSummary s;
  s.refractiveIndex = refractiveIndex;
  s.cells = static_cast<int>(cells.size());
  if (cells.empty()) return s;
  for (const HeightCell& c : cells) s.meanTarget += c.target;
  s.meanTarget /= static_cast<double>(cells.size());
  const double mean = s.meanTarget;
  s.output = Figures(cells, [](const HeightCell& c) { return c.output; });
  s.constant = Figures(cells, [mean](const HeightCell&) { return mean; });
  s.physics = Figures(cells, [](const HeightCell& c) { return c.physics; });

  std::array<double, kRingCount> sq{};
  for (const HeightCell& c : cells) {
    RingFigures& r = s.rings[static_cast<size_t>(RingOfRho(c.rho))];
    ++r.cells;
    r.meanAbsError += std::fabs(c.error());
    sq[static_cast<size_t>(RingOfRho(c.rho))] += c.error() * c.error();
    r.constantMeanAbsError += std::fabs(mean - c.target);
    r.physicsMeanAbsError += std::fabs(c.physics - c.target);
  }
  for (int k = 0; k < kRingCount; ++k) {
    RingFigures& r = s.rings[static_cast<size_t>(k)];
    if (r.cells == 0) continue;
    r.meanAbsError /= r.cells;
    r.rmsError = std::sqrt(sq[static_cast<size_t>(k)] / r.cells);
    r.constantMeanAbsError /= r.cells;
    r.physicsMeanAbsError /= r.cells;
  }
  return s;
}

HeightEvaluation EvaluateLearnedHeights(const AppState& state, const NetworkParameters& parameters,
                                        double refractiveIndex) {
  HeightEvaluation e;
  if (state.ResultMap.empty()) {
    e.message = Refusal(std::string("Набор изображений не обработан.") + kCrLf +
                        "Откройте все четыре изображения, а потом повторите оценку.");
    return e;
  }
  if (auto refusal = CheckTrainingCircle(state.Circle, state.SetWidth, state.SetHeight)) {
    e.message = *refusal;
    e.message->title = "Оценка невозможна";
    return e;
  }
  // The direction column is stored for the exports only; the network does not
  // read it, so either convention gives the same outputs.
  CellNetwork network = PrepareCells(state, DirectionConvention::FullTurn);
  EvaluateNetwork(network, parameters);
  e.cells = CollectHeightCells(network, refractiveIndex);
  e.summary = SummarizeHeights(e.cells, refractiveIndex);
  e.ok = true;
  return e;
}

HeightEvaluation EvaluateWeightsFile(const AppState& state, const std::string& weightsPath,
                                     const std::string& decimalSeparator, double refractiveIndex) {
  NetworkParameters parameters;  // start values; Крутизна 0.13
  const ReadOutcome read = ReadWeightsFile(weightsPath, parameters, decimalSeparator);
  if (read.missing || !read.ok) {
    HeightEvaluation e;
    e.message = !read.message.text.empty() && !read.missing
                    ? read.message
                    : Refusal("Файл весов \"" + weightsPath + "\" не найден: сначала обучите сеть.");
    return e;
  }
  return EvaluateLearnedHeights(state, parameters, refractiveIndex);
}

std::string SummaryText(const HeightSummary& s, const std::string& sep) {
  std::ostringstream t;
  t << "Точек внутри шара: " << s.cells << "\n";
  t << "Сеть: средняя ошибка " << Fixed(s.output.meanAbsError, sep) << ", СКО " << Fixed(s.output.rmsError, sep)
    << ", корреляция с h " << Fixed(s.output.correlation, sep) << "\n";
  t << "Постоянная высота " << Fixed(s.meanTarget, sep) << ": средняя ошибка " << Fixed(s.constant.meanAbsError, sep)
    << ", СКО " << Fixed(s.constant.rmsError, sep) << "\n";
  t << "Модель Френеля (n = " << Fixed(s.refractiveIndex, sep, "0.00")
    << "): средняя ошибка " << Fixed(s.physics.meanAbsError, sep) << ", СКО " << Fixed(s.physics.rmsError, sep)
    << "\n";
  t << "По кольцам ρ, средняя ошибка сети / постоянной / Френеля:";
  for (int k = 0; k < kRingCount; ++k) {
    const RingFigures& r = s.rings[static_cast<size_t>(k)];
    if (r.cells == 0) continue;
    t << "\n  " << Fixed(k / 10.0, sep, "0.0") << "–" << Fixed((k + 1) / 10.0, sep, "0.0") << ": "
      << Fixed(r.meanAbsError, sep) << " / " << Fixed(r.constantMeanAbsError, sep) << " / "
      << Fixed(r.physicsMeanAbsError, sep) << "  (" << r.cells << ")";
  }
  return t.str();
}

// ---------------------------------------------------------------- weights origin

std::string WeightsOriginPath(const std::string& folder) {
  if (folder.empty()) return kWeightsOriginName;
  return folder.back() == '/' ? folder + kWeightsOriginName : folder + "/" + kWeightsOriginName;
}

std::string SetFingerprint(const AppState& state) {
  const ImageBuffer& store = state.ImageStore;
  if (store.empty()) return "";
  uint64_t h = 1469598103934665603ULL;
  for (int slot = 1; slot <= kSlots; ++slot)
    for (int y = 1; y <= store.height(); ++y) {
      const uint8_t* row = store.row(y, slot);
      for (int i = 0; i < store.width() * 3; ++i) h = (h ^ row[i]) * 1099511628211ULL;
    }
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
  return buf;
}

WeightsOrigin OriginOf(const AppState& state) {
  return WeightsOrigin{state.Circle, state.SetWidth, state.SetHeight, SetFingerprint(state)};
}

std::string FormatWeightsOrigin(const WeightsOrigin& o) {
  char buf[64];
  std::string text = "Окружность и набор изображений, для которых записан файл весов\r\n";
  auto number = [&](const char* key, double v) {
    std::snprintf(buf, sizeof buf, "%.17g", v);
    text += std::string(key) + " = " + buf + "\r\n";
  };
  number("ЦентрX", o.circle.CircleCentreX);
  number("ЦентрY", o.circle.CircleCentreY);
  number("Радиус", o.circle.CircleRadius);
  text += "Ширина = " + std::to_string(o.width) + "\r\n";
  text += "Высота = " + std::to_string(o.height) + "\r\n";
  text += "Набор = " + o.set + "\r\n";
  return text;
}

std::optional<WeightsOrigin> ParseWeightsOrigin(const std::string& text) {
  WeightsOrigin o;
  int found = 0;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t eq = line.find(" = ");
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 3);
    char* end = nullptr;
    const double v = std::strtod(value.c_str(), &end);
    const bool number = !value.empty() && *end == '\0' && std::isfinite(v);
    if (key == "Набор") {
      o.set = value;
      ++found;
    } else if (!number) {
      continue;
    } else if (key == "ЦентрX") {
      o.circle.CircleCentreX = v, ++found;
    } else if (key == "ЦентрY") {
      o.circle.CircleCentreY = v, ++found;
    } else if (key == "Радиус") {
      o.circle.CircleRadius = v, ++found;
    } else if (key == "Ширина") {
      o.width = static_cast<int>(v), ++found;
    } else if (key == "Высота") {
      o.height = static_cast<int>(v), ++found;
    }
  }
  if (found != 6) return std::nullopt;
  return o;
}

bool WriteWeightsOrigin(const std::string& path, const WeightsOrigin& origin, std::string* error) {
  return WriteFileAtomically(path, FormatWeightsOrigin(origin), error);
}

std::optional<WeightsOrigin> ReadWeightsOrigin(const std::string& path) {
  const auto text = ReadWhole(path);
  return text ? ParseWeightsOrigin(*text) : std::nullopt;
}

std::string OriginNote(const std::optional<WeightsOrigin>& recorded, const WeightsOrigin& current,
                       const std::string& sep) {
  if (!recorded)
    return std::string("Неизвестно, для какой окружности и какого набора записан файл весов (нет файла «") +
           kWeightsOriginName + "»).";
  const WeightsOrigin& r = *recorded;
  auto circleText = [&](const SphereCircle& c) {
    return "центр (" + FormatNumber(c.CircleCentreX, "0.00", sep) + "; " + FormatNumber(c.CircleCentreY, "0.00", sep) +
           "), радиус " + FormatNumber(c.CircleRadius, "0.00", sep);
  };
  std::string note;
  if (r.width != current.width || r.height != current.height) {
    note = "Файл весов записан для другого набора изображений: " + std::to_string(r.width) + " x " +
           std::to_string(r.height) + ", а сейчас открыт " + std::to_string(current.width) + " x " +
           std::to_string(current.height) + ".";
  } else if (!r.set.empty() && !current.set.empty() && r.set != current.set) {
    note = "Файл весов записан для другого набора изображений того же размера.";
  }
  const auto same = [](double a, double b) { return std::fabs(a - b) <= 1e-9 * std::max(1.0, std::fabs(a)); };
  if (!same(r.circle.CircleCentreX, current.circle.CircleCentreX) ||
      !same(r.circle.CircleCentreY, current.circle.CircleCentreY) ||
      !same(r.circle.CircleRadius, current.circle.CircleRadius)) {
    if (!note.empty()) note += " ";
    note += "Файл весов записан для другой окружности: " + circleText(r.circle) + "; сейчас " +
            circleText(current.circle) + ".";
  }
  return note;
}

// ---------------------------------------------------------------- energies

std::vector<EnergyPoint> LatestRunEnergies(const std::string& utf8, const std::string& sep) {
  // "h:mm:ss  Энер.= A + B + abs  Изм.Эн.= gain;  Итер-я= n;  № ..."
  static const std::string kEnergy = "Энер.= ", kIteration = "Итер-я= ";
  std::vector<EnergyPoint> points;
  std::istringstream in(utf8);
  for (std::string line; std::getline(in, line);) {
    const size_t e = line.find(kEnergy), i = line.find(kIteration);
    if (e == std::string::npos || i == std::string::npos) continue;
    const size_t a0 = e + kEnergy.size(), plus1 = line.find(" + ", a0);
    if (plus1 == std::string::npos) continue;
    const size_t b0 = plus1 + 3, plus2 = line.find(" + ", b0);
    if (plus2 == std::string::npos) continue;
    // The log may have been written with either separator (the window takes the
    // user's, the command line its option); the numbers carry no grouping.
    auto number = [&sep](std::string text) {
      for (char& c : text)
        if (c == ',') c = '.';
      return ParseNumber(text, sep == "," ? "." : sep);
    };
    const auto a = number(line.substr(a0, plus1 - a0)), b = number(line.substr(b0, plus2 - b0));
    const size_t n0 = i + kIteration.size(), n1 = line.find(';', n0);
    const auto n = number(line.substr(n0, n1 == std::string::npos ? std::string::npos : n1 - n0));
    if (!a || !b || !n) continue;
    if (*n == 1) points.clear();
    points.push_back(EnergyPoint{static_cast<long long>(*n), *a, *b});
  }
  return points;
}

std::vector<EnergyPoint> ReadLatestRunEnergies(const std::string& path, const std::string& sep) {
  const auto bytes = ReadWhole(path);
  return bytes ? LatestRunEnergies(DecodeLearningText(*bytes), sep) : std::vector<EnergyPoint>{};
}

}  // namespace ps

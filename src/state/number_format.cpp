#include "state/number_format.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace ps {

namespace {

// Decimal digits of |value| with 15 significant digits, and the position of the
// decimal point: value = 0.d1d2d3... x 10^exp10.
void DecimalDigits(double value, std::string* digits, int* exp10) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.14e", std::fabs(value));
  std::string s(buf);
  const size_t e = s.find('e');
  digits->clear();
  for (size_t i = 0; i < e; ++i)
    if (s[i] >= '0' && s[i] <= '9') digits->push_back(s[i]);
  *exp10 = std::atoi(s.c_str() + e + 1) + 1;
}

}  // namespace

std::string FormatNumber(double value, const std::string& pattern, const std::string& decimalSeparator) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-Inf" : "Inf";
  const size_t dot = pattern.find('.');
  const std::string intPat = pattern.substr(0, dot);
  const std::string fracPat = dot == std::string::npos ? std::string() : pattern.substr(dot + 1);
  int minInt = 0;
  for (char c : intPat) minInt += c == '0';
  int fixedFrac = 0, maxFrac = 0;
  for (char c : fracPat) {
    if (c == '0') ++fixedFrac, ++maxFrac;
    else if (c == '#') ++maxFrac;
  }

  std::string digits;
  int exp10 = 0;
  DecimalDigits(value, &digits, &exp10);
  if (value == 0) exp10 = 1;
  // Integer digits are digits[0, exp10); fraction digits follow. Round at maxFrac.
  std::string all;  // digits with the point after `intCount` of them
  int intCount = exp10;
  if (intCount <= 0) {
    all = std::string(-intCount, '0') + digits;
    intCount = 0;
  } else {
    all = digits;
    if (static_cast<int>(all.size()) < intCount) all.append(intCount - all.size(), '0');
  }
  const int keep = intCount + maxFrac;
  if (static_cast<int>(all.size()) < keep) all.append(keep - all.size(), '0');
  const bool roundUp = static_cast<int>(all.size()) > keep && all[keep] >= '5';
  all.resize(keep);
  if (roundUp) {
    int i = keep - 1;
    for (; i >= 0; --i) {
      if (all[i] == '9') {
        all[i] = '0';
      } else {
        ++all[i];
        break;
      }
    }
    if (i < 0) {
      all.insert(all.begin(), '1');
      ++intCount;
    }
  }
  std::string intPart = all.substr(0, intCount);
  std::string fracPart = all.substr(intCount);
  size_t nz = intPart.find_first_not_of('0');
  intPart = nz == std::string::npos ? std::string() : intPart.substr(nz);
  if (static_cast<int>(intPart.size()) < minInt) intPart.insert(0, minInt - intPart.size(), '0');
  while (static_cast<int>(fracPart.size()) > fixedFrac && !fracPart.empty() && fracPart.back() == '0')
    fracPart.pop_back();

  std::string out;
  const bool isZero = (intPart.find_first_not_of('0') == std::string::npos) &&
                      (fracPart.find_first_not_of('0') == std::string::npos);
  if (value < 0 && !isZero) out = "-";
  out += intPart;
  if (!fracPart.empty()) out += decimalSeparator + fracPart;
  return out;
}

std::optional<double> ParseNumber(const std::string& text, const std::string& decimalSeparator) {
  size_t b = text.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return std::nullopt;
  size_t e = text.find_last_not_of(" \t\r\n");
  std::string s = text.substr(b, e - b + 1);
  if (!decimalSeparator.empty() && decimalSeparator != ".") {
    const size_t p = s.find(decimalSeparator);
    if (p != std::string::npos) s = s.substr(0, p) + "." + s.substr(p + decimalSeparator.size());
  }
  for (char c : s)
    if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E')) return std::nullopt;
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

}  // namespace ps

#include "learning/text_encoding.h"

#include <cstdint>

namespace ps {

namespace {

// Unicode code points of the cp1251 bytes 0x80..0xFF (0x98 has none).
constexpr char32_t kHigh[128] = {
    0x402,  0x403,  0x201a, 0x453,  0x201e, 0x2026, 0x2020, 0x2021, 0x20ac, 0x2030, 0x409,  0x2039, 0x40a,
    0x40c,  0x40b,  0x40f,  0x452,  0x2018, 0x2019, 0x201c, 0x201d, 0x2022, 0x2013, 0x2014, 0xFFFD, 0x2122,
    0x459,  0x203a, 0x45a,  0x45c,  0x45b,  0x45f,  0xa0,   0x40e,  0x45e,  0x408,  0xa4,   0x490,  0xa6,
    0xa7,   0x401,  0xa9,   0x404,  0xab,   0xac,   0xad,   0xae,   0x407,  0xb0,   0xb1,   0x406,  0x456,
    0x491,  0xb5,   0xb6,   0xb7,   0x451,  0x2116, 0x454,  0xbb,   0x458,  0x405,  0x455,  0x457,  0x410,
    0x411,  0x412,  0x413,  0x414,  0x415,  0x416,  0x417,  0x418,  0x419,  0x41a,  0x41b,  0x41c,  0x41d,
    0x41e,  0x41f,  0x420,  0x421,  0x422,  0x423,  0x424,  0x425,  0x426,  0x427,  0x428,  0x429,  0x42a,
    0x42b,  0x42c,  0x42d,  0x42e,  0x42f,  0x430,  0x431,  0x432,  0x433,  0x434,  0x435,  0x436,  0x437,
    0x438,  0x439,  0x43a,  0x43b,  0x43c,  0x43d,  0x43e,  0x43f,  0x440,  0x441,  0x442,  0x443,  0x444,
    0x445,  0x446,  0x447,  0x448,  0x449,  0x44a,  0x44b,  0x44c,  0x44d,  0x44e,  0x44f,
};

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Decodes one UTF-8 sequence at `i`; returns false on a malformed one.
bool NextUtf8(const std::string& s, size_t& i, char32_t& out) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b0 = byte(i);
  int len;
  char32_t c;
  if (b0 < 0x80) {
    out = b0;
    ++i;
    return true;
  } else if ((b0 & 0xE0) == 0xC0) {
    len = 2, c = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, c = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, c = b0 & 0x07;
  } else {
    return false;
  }
  if (i + len > s.size()) return false;
  for (int k = 1; k < len; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return false;
    c = (c << 6) | (byte(i + k) & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
  if ((len == 2 && c < 0x80) || (len == 3 && c < 0x800) || (len == 4 && c < 0x10000) || c > 0x10FFFF ||
      (c >= 0xD800 && c <= 0xDFFF))
    return false;
  out = c;
  i += len;
  return true;
}

}  // namespace

bool IsValidUtf8(const std::string& bytes) {
  size_t i = 0;
  char32_t c;
  while (i < bytes.size())
    if (!NextUtf8(bytes, i, c)) return false;
  return true;
}

std::u32string Utf8ToUtf32(const std::string& utf8) {
  std::u32string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    char32_t c;
    if (NextUtf8(utf8, i, c)) {
      out += c;
    } else {
      out += U'\uFFFD';
      ++i;
    }
  }
  return out;
}

std::string Utf32ToUtf8(const std::u32string& text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char32_t c : text) AppendUtf8(out, c);
  return out;
}

std::string Cp1251ToUtf8(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char b : bytes) AppendUtf8(out, b < 0x80 ? char32_t(b) : kHigh[b - 0x80]);
  return out;
}

std::string Utf8ToCp1251(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (char32_t c : Utf8ToUtf32(utf8)) {
    if (c < 0x80) {
      out += static_cast<char>(c);
      continue;
    }
    char byte = '?';
    if (c >= 0x410 && c <= 0x44F) {
      byte = static_cast<char>(0xC0 + (c - 0x410));
    } else {
      for (int k = 0; k < 64; ++k)
        if (kHigh[k] == c) {
          byte = static_cast<char>(0x80 + k);
          break;
        }
    }
    out += byte;
  }
  return out;
}

namespace {

// UTF-16 after its byte-order mark to UTF-8; an unpaired surrogate or a last
// odd byte becomes U+FFFD.
std::string Utf16ToUtf8(const std::string& bytes, bool bigEndian) {
  std::string out;
  out.reserve(bytes.size());
  auto unit = [&](size_t i) -> char32_t {
    const auto b0 = static_cast<unsigned char>(bytes[i]), b1 = static_cast<unsigned char>(bytes[i + 1]);
    return bigEndian ? char32_t(b0 << 8 | b1) : char32_t(b1 << 8 | b0);
  };
  size_t i = 2;
  while (i + 1 < bytes.size()) {
    char32_t c = unit(i);
    i += 2;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < bytes.size() && unit(i) >= 0xDC00 && unit(i) <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(i) - 0xDC00);
      i += 2;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    AppendUtf8(out, c);
  }
  if (i < bytes.size()) AppendUtf8(out, 0xFFFD);
  return out;
}

}  // namespace

std::string DecodeLearningText(const std::string& bytes) {
  const auto at = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (bytes.size() >= 3 && at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF) return bytes.substr(3);
  if (bytes.size() >= 2 && at(0) == 0xFF && at(1) == 0xFE) return Utf16ToUtf8(bytes, false);
  if (bytes.size() >= 2 && at(0) == 0xFE && at(1) == 0xFF) return Utf16ToUtf8(bytes, true);
  if (IsValidUtf8(bytes)) return bytes;
  return Cp1251ToUtf8(bytes);
}

}  // namespace ps

#include "imageio/bmp.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>

namespace ps {

namespace {

// Largest pixel count accepted: 100 megapixels (the four slots then take 1.2 GB).
constexpr long long kMaxPixels = 100LL * 1000 * 1000;

// Random access to a file by 0-based byte offset; reads outside the file fail.
class FileBytes {
 public:
  explicit FileBytes(const std::string& path) : f_(path, std::ios::binary) {
    if (f_) {
      f_.seekg(0, std::ios::end);
      size_ = static_cast<long long>(f_.tellg());
      f_.seekg(0);
    }
  }
  bool ok() const { return static_cast<bool>(f_); }
  long long size() const { return size_; }
  bool read(long long offset, void* out, long long n) {
    if (offset < 0 || n < 0 || offset + n > size_) return false;
    f_.clear();
    f_.seekg(offset);
    f_.read(static_cast<char*>(out), n);
    return static_cast<bool>(f_);
  }
  bool u16(long long offset, uint32_t* v) {
    uint8_t b[2];
    if (!read(offset, b, 2)) return false;
    *v = b[0] | (b[1] << 8);
    return true;
  }
  bool i32(long long offset, int32_t* v) {
    uint8_t b[4];
    if (!read(offset, b, 4)) return false;
    *v = static_cast<int32_t>(static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
                              (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24));
    return true;
  }

 private:
  std::ifstream f_;
  long long size_ = 0;
};

// Rounding to the nearest integer with halves to even.
double RoundHalfEven(double v) { return std::nearbyint(v); }

// 2^bits as the information text prints it: a whole number.
std::string PowerOfTwo(long long bits) {
  if (bits < 0 || bits > 1023) return "inf";
  char buf[400];
  std::snprintf(buf, sizeof buf, "%.0f", std::ldexp(1.0, static_cast<int>(bits)));
  return buf;
}

Message TruncatedMessage() { return ErrorMessage(62, "Ввод за пределами конца файла (файл обрезан или повреждён)"); }
Message OverflowMessage() { return ErrorMessage(6, "Переполнение (размеры в заголовке файла несовместимы)"); }

Message CannotOpenMessage(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return ErrorMessage(53, "Файл не найден: " + path);
  if (S_ISDIR(st.st_mode)) return ErrorMessage(75, "Это папка, а не файл: " + path);
  return ErrorMessage(75, "Нет доступа к файлу: " + path);
}

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Everything the header says, read and checked before anything is changed.
struct ParsedHeader {
  FileHeaderValues h;
  bool windowsLayout = false;
  int shift = 0;
  uint32_t planes = 0;
  bool hasInfoFields = false;
  int32_t imageSize = 0, xResolution = 0, yResolution = 0, coloursUsed = 0, importantColours = 0;
  int expectedPadding = 0;
  int paletteEntrySize = 0;
  Palette palette{};
  bool paletteRead = false;
};

// Reads and validates the header; returns false with `error` for a file that is
// truncated or whose sizes are inconsistent.
bool ParseHeader(FileBytes& f, ParsedHeader* p, Message* error) {
  FileHeaderValues& h = p->h;
  if (!f.i32(2, &h.FileSizeField) || !f.i32(10, &h.PixelDataOffset) || !f.i32(14, &h.InfoHeaderSize)) {
    *error = TruncatedMessage();
    return false;
  }
  uint32_t word20 = 0;
  if (!f.u16(20, &word20)) {
    *error = TruncatedMessage();
    return false;
  }
  p->windowsLayout = word20 == 0;
  p->shift = p->windowsLayout ? 4 : 0;
  const int s = p->shift;
  if (p->windowsLayout) {
    if (!f.i32(18, &h.ImageWidth) || !f.i32(22, &h.ImageHeight)) {
      *error = TruncatedMessage();
      return false;
    }
  } else {
    uint32_t w = 0, hh = 0;
    if (!f.u16(18, &w) || !f.u16(20, &hh)) {
      *error = TruncatedMessage();
      return false;
    }
    h.ImageWidth = static_cast<int32_t>(w);
    h.ImageHeight = static_cast<int32_t>(hh);
  }
  uint32_t bits = 0;
  if (!f.u16(s + 22, &p->planes) || !f.u16(s + 24, &bits)) {
    *error = TruncatedMessage();
    return false;
  }
  h.BitsPerPixel = static_cast<int32_t>(bits);
  p->hasInfoFields = h.InfoHeaderSize > s + 12;
  if (p->hasInfoFields) {
    if (!f.i32(30, &h.CompressionCode) || !f.i32(34, &p->imageSize) || !f.i32(38, &p->xResolution) ||
        !f.i32(42, &p->yResolution) || !f.i32(46, &p->coloursUsed) || !f.i32(50, &p->importantColours)) {
      *error = TruncatedMessage();
      return false;
    }
  }
  // Dimensions: positive (rows are stored bottom-up; top-down files are not
  // supported) and small enough to be held in memory.
  if (h.ImageWidth <= 0 || h.ImageHeight <= 0 ||
      static_cast<long long>(h.ImageWidth) * h.ImageHeight > kMaxPixels) {
    *error = OverflowMessage();
    return false;
  }
  const double rowBytes = static_cast<double>(h.ImageWidth) * h.BitsPerPixel / 8;
  double padding;
  if (h.CompressionCode != 0) {
    padding = (4 - h.ImageWidth % 4) % 4;
  } else {
    padding = RoundHalfEven(((static_cast<double>(h.FileSizeField) - h.PixelDataOffset) -
                             static_cast<double>(h.ImageWidth) * h.ImageHeight * h.BitsPerPixel / 8) /
                            h.ImageHeight);
  }
  if (!(padding >= 0 && padding <= 255)) {
    *error = OverflowMessage();
    return false;
  }
  h.RowPadding = static_cast<uint8_t>(padding);
  const long long wholeRow = static_cast<long long>(std::ceil(rowBytes));
  p->expectedPadding = static_cast<int>((4 - wholeRow % 4) % 4);
  h.RowLength = static_cast<int32_t>(RoundHalfEven(rowBytes + h.RowPadding));

  if (h.BitsPerPixel < 24) {
    const double e = RoundHalfEven((static_cast<double>(h.PixelDataOffset) - h.InfoHeaderSize - 14) /
                                   std::ldexp(1.0, h.BitsPerPixel));
    if (!(e >= 0 && e <= 255)) {
      *error = OverflowMessage();
      return false;
    }
    p->paletteEntrySize = static_cast<int>(e);
  }

  const bool readable = (h.BitsPerPixel == 8 || h.BitsPerPixel == 24) && h.CompressionCode == 0;
  if (readable) {
    // The pixel rows must be in the file before anything is allocated for them.
    if (h.PixelDataOffset < 0 ||
        static_cast<long long>(h.PixelDataOffset) + static_cast<long long>(h.ImageHeight) * h.RowLength > f.size()) {
      *error = TruncatedMessage();
      return false;
    }
  }
  if (readable && h.BitsPerPixel == 8) {
    // A palette shorter than 256 entries (colours used 1..255) is read with the
    // entry size of its layout; the remaining entries stay black. A full palette
    // is read with the derived entry size.
    const long long start = 14LL + h.InfoHeaderSize;
    int count = 256;
    int entry = p->paletteEntrySize;
    if (p->coloursUsed >= 1 && p->coloursUsed <= 255) {
      count = p->coloursUsed;
      entry = p->windowsLayout ? 4 : 3;
    }
    for (int i = 0; i < count; ++i) {
      uint8_t bgr[3];
      if (!f.read(start + static_cast<long long>(i) * entry, bgr, 3)) {
        *error = TruncatedMessage();
        return false;
      }
      p->palette[i] = {static_cast<float>(bgr[2]), static_cast<float>(bgr[1]), static_cast<float>(bgr[0])};
    }
    p->paletteRead = true;
  }
  return true;
}

}  // namespace

std::string HeaderOutcome::infoText() const {
  std::string out;
  for (size_t i = 0; i < infoLines.size(); ++i) {
    if (i) out += kCrLf;
    out += infoLines[i];
  }
  return out;
}

uint16_t CalcWord(const std::vector<uint8_t>& bytes, long long p) {
  auto at = [&](long long pos) -> unsigned { return pos >= 1 && pos <= static_cast<long long>(bytes.size()) ? bytes[pos - 1] : 0; };
  return static_cast<uint16_t>(at(p + 1) * 256 + at(p));
}

Message ErrorMessage(int number, const std::string& description) {
  return {"Ошибка №" + std::to_string(number) + " " + description, "Ошибка", MessageIcon::Critical};
}

Message NonStandardFormatMessage() {
  return {std::string("Этот формат BMP файла не поддерживается") + kCrLf + "Его нужно преобразовать в стандартный формат" +
              kCrLf + "          (желательно 24-х битный BMP файл)." + kCrLf +
              "Это можно попытаться сделать в редакторе Paint" + kCrLf + "или других графических редакторах.",
          "Нестандартная версия формата BMP", MessageIcon::Critical};
}

HeaderOutcome ReadBitmapHeader(AppState& state, const std::string& path) {
  HeaderOutcome out;
  FileBytes f(path);
  if (!f.ok()) {
    out.messages.push_back(CannotOpenMessage(path));
    out.refusedAsBroken = true;
    out.openButton.push_back(OpenButtonAction::Disable);
    return out;
  }
  ParsedHeader p;
  Message error;
  if (!ParseHeader(f, &p, &error)) {
    out.messages.push_back(error);
    out.refusedAsBroken = true;
    out.openButton.push_back(OpenButtonAction::Disable);
    return out;
  }

  // The header is sound: from here on the state takes the file's values.
  FileHeaderValues& h = state.Header;
  const std::string keepPath = h.FilePath, keepSignature = h.FileSignature;
  h = p.h;
  h.FilePath = keepPath;
  h.FileSignature = keepSignature;

  out.infoLines.push_back(p.windowsLayout ? "BMP формат - растр Windows" : "BMP формат - растр OS/2");
  out.infoLines.push_back("Размер файла " + std::to_string(h.FileSizeField) + " байт");
  out.infoLines.push_back("Ширина " + std::to_string(h.ImageWidth));
  out.infoLines.push_back("Высота " + std::to_string(h.ImageHeight));
  out.summary = std::to_string(h.ImageWidth) + " x " + std::to_string(h.ImageHeight);

  if (state.SetStarted != 0) {
    if (h.ImageWidth == state.SetWidth && h.ImageHeight == state.SetHeight) {
      out.openButton.push_back(OpenButtonAction::StartAnimation);
    } else {
      out.dimensionsMatchSet = false;
      out.messages.push_back({"Это изображение другого формата:  " + std::to_string(h.ImageWidth) + " x " +
                                  std::to_string(h.ImageHeight) + kCrLf + "А нужно  " + std::to_string(state.SetWidth) +
                                  " x " + std::to_string(state.SetHeight),
                              "", MessageIcon::None});
      out.openButton.push_back(OpenButtonAction::Disable);
    }
  }

  out.infoLines.push_back(std::to_string(h.BitsPerPixel) + " бит на каждый пиксель ");
  if (p.hasInfoFields) {
    out.infoLines.push_back(h.CompressionCode == 0 ? std::string("Сжатия нет")
                                                   : std::to_string(h.CompressionCode) + " тип сжатия");
    out.infoLines.push_back("Горизонтальное разрешение устройства " + std::to_string(p.xResolution) + " пиксель/метр");
    out.infoLines.push_back("Вертикальное разрешение устройства " + std::to_string(p.yResolution) + " пиксель/метр");
    const std::string all = PowerOfTwo(h.BitsPerPixel);
    if (p.coloursUsed != 0 && std::to_string(p.coloursUsed) != all)
      out.infoLines.push_back("Используется " + std::to_string(p.coloursUsed) + " цветов из " + all + " цветной палитры");
    else
      out.infoLines.push_back("Используется все цвета палитры");
    out.infoLines.push_back("Число важных цветов " + std::to_string(p.importantColours));
  }
  if (h.RowPadding != p.expectedPadding) out.infoLines.push_back("Нет выравнивания строк по 4 байтной границе");

  out.paletteEntrySize = p.paletteEntrySize;
  if (h.BitsPerPixel != 8 && h.BitsPerPixel != 24) {
    out.summary += "    " + PowerOfTwo(h.BitsPerPixel) + " цветов";
    out.showUnsupportedDepth = true;
    out.unsupportedDepthText = PowerOfTwo(h.BitsPerPixel) + "-ти цветное изображение" + kCrLf + "не поддерживается.";
    out.openButton.push_back(OpenButtonAction::Disable);
    return out;
  }
  if (h.CompressionCode != 0) {
    out.messages.push_back({"Изображение с типом сжатия " + std::to_string(h.CompressionCode) + kCrLf +
                                "            не поддерживается",
                            "Не поддерживаемый формат", MessageIcon::None});
    out.openButton.push_back(OpenButtonAction::Disable);
    return out;
  }
  out.accepted = true;
  // The first accepted file of a set creates the image store. A refused file
  // (unsupported depth or compression) never fixes the set's dimensions, and its
  // header fields never decide how much memory is taken.
  if (state.SetStarted == 0) {
    state.createImageSet(h.ImageWidth, h.ImageHeight);
    out.createdSet = true;
  }
  out.openButton.push_back(OpenButtonAction::EnableIfDisabled);
  if (h.BitsPerPixel == 24) {
    out.summary += "    16 млн. цветов";
  } else {
    state.PaletteTable = p.palette;
    out.hasPalette = true;
    out.summary += "    256 цветов";
  }
  return out;
}

CheckFileOutcome CheckFile(AppState& state, const std::string& folder, const std::string& name) {
  CheckFileOutcome out;
  state.Header.FilePath.clear();
  state.Header.FileSignature.clear();
  if (name.empty()) return out;
  std::string path = folder;
  if (!path.empty() && path.back() != '/') path += '/';
  path += name;
  state.Header.FilePath = path;

  std::ifstream f(path, std::ios::binary);
  if (!f) {
    out.messages.push_back(CannotOpenMessage(path));
    return out;
  }
  char sig[2];
  f.read(sig, 2);
  state.Header.FileSignature.assign(sig, static_cast<size_t>(f.gcount()));
  f.close();

  const bool bmpName = EndsWith(path, ".bmp") || EndsWith(path, ".BMP");
  if (bmpName && state.Header.FileSignature != "BM") {
    out.messages.push_back({"Файл " + name + " не является изображением," + kCrLf + "а содержит что-то другое",
                            "Неизвестный формат файла", MessageIcon::Exclamation});
  }
  if (state.Header.FileSignature == "BM") {
    out.headerRead = true;
    out.header = ReadBitmapHeader(state, path);
  }
  return out;
}

PixelReadOutcome ReadBitmapPixels(AppState& state, const std::string& path, int slot, const Progress& progress) {
  PixelReadOutcome out;
  const FileHeaderValues& h = state.Header;
  if (slot < 1 || slot > kSlots || state.ImageStore.empty() || h.ImageWidth != state.SetWidth ||
      h.ImageHeight != state.SetHeight)
    return out;
  state.ColouredPixelCount[slot - 1] = 0;
  if (h.FileSignature != "BM") return out;
  if (h.BitsPerPixel != 8 && h.BitsPerPixel != 24) return out;
  state.Header.RowLength =
      static_cast<int32_t>(RoundHalfEven(static_cast<double>(h.ImageWidth) * h.BitsPerPixel / 8 + h.RowPadding));

  FileBytes f(path);
  if (!f.ok()) {
    out.messages.push_back(CannotOpenMessage(path));
    return out;
  }
  const int w = h.ImageWidth, height = h.ImageHeight;
  const long long rowLength = h.RowLength;
  const long long need = static_cast<long long>(h.PixelDataOffset) + height * rowLength;
  if (h.PixelDataOffset < 0 || need > f.size() || rowLength < static_cast<long long>(w) * h.BitsPerPixel / 8) {
    out.messages.push_back(TruncatedMessage());
    return out;
  }
  // Not zero-filled: every byte is read from the file next.
  const auto data = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(height * rowLength));
  if (!f.read(h.PixelDataOffset, data.get(), height * rowLength)) {
    out.messages.push_back(TruncatedMessage());
    return out;
  }

  // The whole pixel data is in memory, so nothing can fail from here on: the
  // rows go straight into the store, and the slot still changes only when the
  // whole file was read. A cancellation is honoured before the first row.
  if (progress.cancelled()) return out;
  const bool subtract = h.BitsPerPixel == 24 && state.SubtractNext[slot - 1];
  int32_t coloured = 0;
  uint8_t colouredIndex[256];
  for (int i = 0; i < 256; ++i) {
    const auto& c = state.PaletteTable[i];
    colouredIndex[i] = !(c[0] == c[1] && c[1] == c[2]);
  }
  for (int r = 1; r <= height; ++r) {
    const int y = height - r + 1;
    const uint8_t* src = &data[static_cast<size_t>(r - 1) * rowLength];
    uint8_t* dst = state.ImageStore.row(y, slot);
    if (h.BitsPerPixel == 8) {
      for (int x = 0; x < w; ++x) {
        dst[3 * x] = src[x];
        coloured += colouredIndex[src[x]];
      }
    } else if (subtract) {
      for (int x = 0; x < w; ++x) {
        const uint8_t b = src[3 * x], g = src[3 * x + 1], rr = src[3 * x + 2];
        coloured += (rr != g) | (g != b);
        const int dr = dst[3 * x] - rr, dg = dst[3 * x + 1] - g, db = dst[3 * x + 2] - b;
        dst[3 * x] = static_cast<uint8_t>(dr >= 1 ? dr : 0);
        dst[3 * x + 1] = static_cast<uint8_t>(dg >= 1 ? dg : 0);
        dst[3 * x + 2] = static_cast<uint8_t>(db >= 1 ? db : 0);
      }
    } else {
      for (int x = 0; x < w; ++x) {
        const uint8_t b = src[3 * x], g = src[3 * x + 1], rr = src[3 * x + 2];
        coloured += (rr != g) | (g != b);
        dst[3 * x] = rr;
        dst[3 * x + 1] = g;
        dst[3 * x + 2] = b;
      }
    }
    progress(r, height);
  }
  state.ColouredPixelCount[slot - 1] = coloured;
  out.read = true;
  return out;
}

SlotAssignmentOutcome AssignSlot(AppState& state, int slot, const Progress& progress) {
  SlotAssignmentOutcome out;
  state.CurrentSlot = slot;
  if (state.SetStarted == 0) {
    state.SetStarted = slot;
    if (state.SetWidth > 0 && state.SetHeight > 0)
      state.ZoomFactor = FitZoom(state.ZoomFactor, state.SetWidth, state.SetHeight);
    out.disableGrid = state.ZoomFactor < 3;
  }
  state.PendingRead = true;
  out.pixels = ReadBitmapPixels(state, state.Header.FilePath, slot, progress);
  state.PendingRead = false;
  state.SlotLoaded[slot - 1] = true;
  if (state.Header.BitsPerPixel == 24) state.SubtractNext[slot - 1] = !state.SubtractNext[slot - 1];
  out.processNow = state.setComplete();
  return out;
}

SetLoadOutcome LoadSet(AppState& state, const std::vector<std::string>& paths, const Progress& progress) {
  SetLoadOutcome out;
  state.startNewSet();
  if (paths.size() != kSlots) {
    out.ok = false;
    out.messages.push_back(ErrorMessage(5, "Нужно четыре файла: 0°, 45°, 90° и 135°"));
    return out;
  }
  for (int k = 1; k <= kSlots; ++k) {
    const std::string& path = paths[k - 1];
    const size_t cut = path.find_last_of('/');
    const std::string folder = cut == std::string::npos ? "." : (cut == 0 ? "/" : path.substr(0, cut));
    const std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
    state.CurrentSlot = k;
    CheckFileOutcome check = CheckFile(state, folder, name);
    out.messages.insert(out.messages.end(), check.messages.begin(), check.messages.end());
    out.messages.insert(out.messages.end(), check.header.messages.begin(), check.header.messages.end());
    if (check.header.showUnsupportedDepth)
      out.messages.push_back({check.header.unsupportedDepthText, "", MessageIcon::None});
    if (!check.headerRead || !check.header.accepted || !check.header.dimensionsMatchSet) {
      if (check.messages.empty() && check.header.messages.empty() && !check.header.showUnsupportedDepth)
        out.messages.push_back({"Файл " + name + " не является изображением BMP", "Неизвестный формат файла",
                                MessageIcon::Exclamation});
      out.ok = false;
      return out;
    }
    Progress slotProgress;
    slotProgress.cancel = progress.cancel;
    if (progress.report)
      slotProgress.report = [&](long long done, long long total) { progress((k - 1) * total + done, 4 * total); };
    SlotAssignmentOutcome a = AssignSlot(state, k, slotProgress);
    out.messages.insert(out.messages.end(), a.pixels.messages.begin(), a.pixels.messages.end());
    if (!a.pixels.read) {
      out.ok = false;
      return out;
    }
  }
  return out;
}

}  // namespace ps

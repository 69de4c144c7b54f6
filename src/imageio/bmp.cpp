#include "imageio/bmp.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>

namespace ps {

namespace {

// Largest pixel count accepted: 100 megapixels (the four slots then take 1.2 GB).
constexpr long long kMaxPixels = 100LL * 1000 * 1000;

// Random access to a regular file by 0-based byte offset; reads outside the
// file fail. The file is opened without blocking and refused unless it is a
// regular file, so a pipe put in place of a checked file cannot hang a reader.
class FileBytes {
 public:
  explicit FileBytes(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return;
    struct stat st;
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd_);
      fd_ = -1;
      return;
    }
    size_ = static_cast<long long>(st.st_size);
  }
  ~FileBytes() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;

  bool ok() const { return fd_ >= 0; }
  long long size() const { return size_; }
  bool read(long long offset, void* out, long long n) {
    if (fd_ < 0 || offset < 0 || n < 0 || offset + n > size_) return false;
    auto* p = static_cast<char*>(out);
    while (n > 0) {
      const ssize_t got = ::pread(fd_, p, static_cast<size_t>(n), static_cast<off_t>(offset));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      p += got;
      offset += got;
      n -= got;
    }
    return true;
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
  int fd_ = -1;
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

// The message for a file that passed InputFileProblem but still cannot be
// opened or read as a regular file (changed meanwhile).
Message CannotOpenMessage(const std::string& path) {
  const std::vector<Message> problem = InputFileProblem(path);
  return problem.empty() ? ErrorMessage(75, "Нет доступа к файлу: " + path) : problem.front();
}

std::string BitsText(int bits) { return std::to_string(bits) + " бит на пиксель"; }

// Why a file with these header values cannot join the open set of `state`:
// other dimensions, or another bit depth than the set's.
std::optional<Message> SetMisfit(const AppState& state, const FileHeaderValues& h, bool* dimensionsDiffer) {
  if (dimensionsDiffer) *dimensionsDiffer = false;
  if (state.SetStarted == 0) return std::nullopt;
  if (h.ImageWidth != state.SetWidth || h.ImageHeight != state.SetHeight) {
    if (dimensionsDiffer) *dimensionsDiffer = true;
    return Message{"Это изображение другого формата:  " + std::to_string(h.ImageWidth) + " x " +
                       std::to_string(h.ImageHeight) + kCrLf + "А нужно  " + std::to_string(state.SetWidth) + " x " +
                       std::to_string(state.SetHeight),
                   "", MessageIcon::None};
  }
  // All four slots are evaluated with one bit depth, so an 8-bit file among
  // 24-bit ones (or the reverse) would give wrong values.
  if (state.SetBitsPerPixel != 0 && h.BitsPerPixel != state.SetBitsPerPixel)
    return Message{"Это изображение другой глубины цвета:  " + BitsText(h.BitsPerPixel) + kCrLf + "А нужно  " +
                       BitsText(state.SetBitsPerPixel) + kCrLf +
                       "Все четыре снимка набора должны быть одной глубины цвета.",
                   "", MessageIcon::None};
  return std::nullopt;
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
    // A negative height marks a top-down file: the first stored row is the top one.
    if (h.ImageHeight < 0 && h.ImageHeight != INT32_MIN) {
      h.TopDown = true;
      h.ImageHeight = -h.ImageHeight;
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
  // Dimensions: positive (after a top-down height is turned round) and small
  // enough to be held in memory.
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

std::vector<Message> InputFileProblem(const std::string& path) {
  if (path.empty()) return {ErrorMessage(52, "Не указан файл: путь пустой")};
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == EACCES) return {ErrorMessage(75, "Нет доступа к файлу: " + path)};
    return {ErrorMessage(53, "Файл не найден: " + path)};
  }
  if (S_ISDIR(st.st_mode)) return {ErrorMessage(75, "Это папка, а не файл: " + path)};
  if (!S_ISREG(st.st_mode))
    return {ErrorMessage(75, "Это не обычный файл (канал, устройство или сокет): " + path)};
  if (::access(path.c_str(), R_OK) != 0) return {ErrorMessage(75, "Нет доступа к файлу: " + path)};
  return {};
}

HeaderOutcome ReadBitmapHeader(const AppState& state, const std::string& path) {
  HeaderOutcome out;
  out.file.path = path;
  auto refuse = [&out](const Message& m) {
    out.messages.push_back(m);
    out.refusedAsBroken = true;
    out.openButton.push_back(OpenButtonAction::Disable);
    return out;
  };
  if (const std::vector<Message> problem = InputFileProblem(path); !problem.empty()) return refuse(problem.front());
  FileBytes f(path);
  if (!f.ok()) return refuse(CannotOpenMessage(path));
  ParsedHeader p;
  Message error;
  if (!ParseHeader(f, &p, &error)) return refuse(error);

  FileHeaderValues& h = out.file.header;
  h = p.h;
  h.FilePath = path;
  h.FileSignature = "BM";

  out.infoLines.push_back(p.windowsLayout ? "BMP формат - растр Windows" : "BMP формат - растр OS/2");
  out.infoLines.push_back("Размер файла " + std::to_string(h.FileSizeField) + " байт");
  out.infoLines.push_back("Ширина " + std::to_string(h.ImageWidth));
  out.infoLines.push_back("Высота " + std::to_string(h.ImageHeight));
  out.summary = std::to_string(h.ImageWidth) + " x " + std::to_string(h.ImageHeight);

  out.startsSet = state.SetStarted == 0;
  bool dimensionsDiffer = false;
  const std::optional<Message> misfit = SetMisfit(state, h, &dimensionsDiffer);
  if (!out.startsSet) {
    if (!dimensionsDiffer) {
      out.openButton.push_back(OpenButtonAction::StartAnimation);
    } else {
      out.dimensionsMatchSet = false;
      out.messages.push_back(*misfit);
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
  out.summary += h.BitsPerPixel == 24 ? "    16 млн. цветов" : "    256 цветов";
  if (p.paletteRead) {
    out.file.palette = p.palette;
    out.file.hasPalette = true;
    out.hasPalette = true;
  }
  if (dimensionsDiffer) return out;  // refused above: the other-format message
  if (misfit) {
    // Readable, of the set's size, but of another depth than the set.
    out.depthMatchesSet = false;
    out.messages.push_back(*misfit);
    out.openButton.push_back(OpenButtonAction::Disable);
    return out;
  }
  out.accepted = true;
  out.openButton.push_back(OpenButtonAction::EnableIfDisabled);
  return out;
}

CheckFileOutcome CheckFile(const AppState& state, const std::string& folder, const std::string& name) {
  CheckFileOutcome out;
  if (name.empty()) return out;
  std::string path = folder;
  if (!path.empty() && path.back() != '/') path += '/';
  path += name;
  out.path = path;

  // Only a regular file is opened: a pipe would block, a folder is named as one.
  if (std::vector<Message> problem = InputFileProblem(path); !problem.empty()) {
    out.messages = std::move(problem);
    return out;
  }
  FileBytes f(path);
  if (!f.ok()) {
    out.messages.push_back(CannotOpenMessage(path));
    return out;
  }
  char sig[2];
  const long long n = std::min<long long>(2, f.size());
  if (f.read(0, sig, n)) out.signature.assign(sig, static_cast<size_t>(n));

  const bool bmpName = EndsWith(path, ".bmp") || EndsWith(path, ".BMP");
  if (bmpName && out.signature != "BM") {
    out.messages.push_back({"Файл " + name + " не является изображением," + kCrLf + "а содержит что-то другое",
                            "Неизвестный формат файла", MessageIcon::Exclamation});
  }
  if (out.signature == "BM") {
    out.headerRead = true;
    out.header = ReadBitmapHeader(state, path);
  }
  return out;
}

namespace {
// Two checks of one path describe the same file: every header value the
// pixel reader uses, and the palette.
bool SameFile(const CheckedFile& a, const CheckedFile& b) {
  const FileHeaderValues &x = a.header, &y = b.header;
  return x.FileSizeField == y.FileSizeField && x.PixelDataOffset == y.PixelDataOffset &&
         x.InfoHeaderSize == y.InfoHeaderSize && x.ImageWidth == y.ImageWidth && x.ImageHeight == y.ImageHeight &&
         x.BitsPerPixel == y.BitsPerPixel && x.CompressionCode == y.CompressionCode && x.RowPadding == y.RowPadding &&
         x.RowLength == y.RowLength && x.TopDown == y.TopDown && a.hasPalette == b.hasPalette &&
         (!a.hasPalette || a.palette == b.palette);
}
}  // namespace

void UseCheckedFile(AppState& state, const CheckedFile& file) {
  state.Header = file.header;
  if (file.hasPalette) state.PaletteTable = file.palette;
  if (state.SetStarted == 0) state.createImageSet(file.header.ImageWidth, file.header.ImageHeight);
}

PixelReadOutcome ReadBitmapPixels(AppState& state, const std::string& path, int slot, const Progress& progress) {
  PixelReadOutcome out;
  const FileHeaderValues& h = state.Header;
  if (slot < 1 || slot > kSlots || state.ImageStore.empty() || h.ImageWidth != state.SetWidth ||
      h.ImageHeight != state.SetHeight)
    return out;
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
  // A top-down file stores the top row first: turning the rows round lets the
  // copy below take every file as stored bottom-up.
  if (h.TopDown)
    for (int top = 0, bottom = height - 1; top < bottom; ++top, --bottom)
      std::swap_ranges(data.get() + top * rowLength, data.get() + (top + 1) * rowLength,
                       data.get() + bottom * rowLength);

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

SlotAssignmentOutcome AssignSlot(AppState& state, int slot, const CheckedFile& file, const Progress& progress) {
  SlotAssignmentOutcome out;
  if (slot < 1 || slot > kSlots) return out;
  // The set may have been started or changed since the file was checked.
  if (const std::optional<Message> misfit = SetMisfit(state, file.header, nullptr)) {
    out.pixels.messages.push_back(*misfit);
    return out;
  }
  // The file is read with the header values of its check: a file changed
  // since then (edited, replaced, cut) is refused rather than misread.
  const HeaderOutcome now = ReadBitmapHeader(state, file.path);
  if (!now.accepted || !SameFile(now.file, file)) {
    out.pixels.messages = now.accepted || now.messages.empty()
                              ? std::vector<Message>{ErrorMessage(
                                    75, "Файл изменился после проверки, проверьте его снова: " + file.path)}
                              : now.messages;
    return out;
  }
  const bool starts = state.SetStarted == 0;
  // What a failed read puts back.
  const FileHeaderValues keepHeader = state.Header;
  const Palette keepPalette = state.PaletteTable;
  const std::array<int32_t, kSlots> keepCounts = state.ColouredPixelCount;
  const int32_t keepWidth = state.SetWidth, keepHeight = state.SetHeight;
  ImageBuffer keepStore;
  if (starts) keepStore = std::move(state.ImageStore);

  UseCheckedFile(state, file);
  state.PendingRead = true;
  out.pixels = ReadBitmapPixels(state, file.path, slot, progress);
  state.PendingRead = false;
  if (!out.pixels.read) {
    state.Header = keepHeader;
    state.PaletteTable = keepPalette;
    state.ColouredPixelCount = keepCounts;
    if (starts) {
      state.ImageStore = std::move(keepStore);
      state.SetWidth = keepWidth;
      state.SetHeight = keepHeight;
    }
    return out;
  }
  keepStore = ImageBuffer();
  state.CurrentSlot = slot;
  if (starts) {
    state.SetStarted = slot;
    state.SetBitsPerPixel = file.header.BitsPerPixel;
    state.ZoomFactor = FitZoom(state.ZoomFactor, state.SetWidth, state.SetHeight);
    out.disableGrid = state.ZoomFactor < 3;
  }
  state.SlotLoaded[slot - 1] = true;
  if (file.header.BitsPerPixel == 24) state.SubtractNext[slot - 1] = !state.SubtractNext[slot - 1];
  out.processNow = state.setComplete();
  return out;
}

SetLoadOutcome LoadSet(AppState& state, const std::vector<std::string>& paths, const Progress& progress) {
  SetLoadOutcome out;
  if (paths.size() != kSlots) {
    out.ok = false;
    out.messages.push_back(ErrorMessage(5, std::string("Нужно четыре файла: 0°, 45°, 90° и 135°") + kCrLf +
                                               "Указано файлов: " + std::to_string(paths.size())));
    return out;
  }
  // The new set is built aside and replaces the old one only when all four files are in.
  AppState fresh;
  static constexpr int kDegrees[kSlots] = {0, 45, 90, 135};
  for (int k = 1; k <= kSlots; ++k) {
    const std::string& path = paths[k - 1];
    // Every message of this file says which file it is about.
    auto add = [&](const std::vector<Message>& ms) {
      for (Message m : ms) {
        m.text += std::string(kCrLf) + "Снимок " + std::to_string(kDegrees[k - 1]) + "°: " +
                  (path.empty() ? std::string("(пустой путь)") : path);
        out.messages.push_back(std::move(m));
      }
    };
    if (path.empty()) {
      add(InputFileProblem(path));
      out.ok = false;
      return out;
    }
    const size_t cut = path.find_last_of('/');
    const std::string folder = cut == std::string::npos ? "." : (cut == 0 ? "/" : path.substr(0, cut));
    const std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
    CheckFileOutcome check = CheckFile(fresh, folder, name);
    add(check.messages);
    add(check.header.messages);
    if (check.header.showUnsupportedDepth) add({{check.header.unsupportedDepthText, "", MessageIcon::None}});
    if (!check.headerRead || !check.header.accepted) {
      if (check.messages.empty() && check.header.messages.empty() && !check.header.showUnsupportedDepth)
        add({{"Файл " + name + " не является изображением BMP", "Неизвестный формат файла", MessageIcon::Exclamation}});
      out.ok = false;
      return out;
    }
    Progress slotProgress;
    slotProgress.cancel = progress.cancel;
    if (progress.report)
      slotProgress.report = [&](long long done, long long total) { progress((k - 1) * total + done, 4 * total); };
    SlotAssignmentOutcome a = AssignSlot(fresh, k, check.header.file, slotProgress);
    add(a.pixels.messages);
    if (!a.pixels.read) {
      out.ok = false;
      return out;
    }
  }
  state.replaceSetWith(std::move(fresh));
  return out;
}

}  // namespace ps

// demosaic: splits one raw frame of a division-of-focal-plane polarization
// camera into the four BMP files of an image set (0.bmp, 45.bmp, 90.bmp, 135.bmp).
// The frame is decoded with Qt's image readers (PNG, TIFF, BMP, ...); the split
// itself is core code.
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "imageio/bmp_writer.h"
#include "imageio/demosaic.h"

#ifdef PS_HAVE_QTGUI
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <QString>

#include <cerrno>
#include <cstring>
#endif

namespace ps::cli {
namespace {

const char* const kUsage =
    "usage: polarsphere-cli demosaic FRAME --out DIR [--pattern P] [--bits 8|24] [--json]\n"
    "\n"
    "Splits a raw frame of a polarization camera (8-bit grey PNG, TIFF or BMP whose\n"
    "every 2 x 2 block holds the four polarizer orientations) into 0.bmp, 45.bmp,\n"
    "90.bmp and 135.bmp in DIR, one pixel per block, each half the frame's width\n"
    "and height. A last odd row or column of the frame is dropped.\n"
    "\n"
    "  --pattern P  azimuths of the block pixels (row 0, col 0), (0, 1), (1, 0), (1, 1),\n"
    "               a permutation of 0,45,90,135; default 90,45,135,0 (Sony sensors)\n"
    "  --bits B     8: 8-bit files sharing one full grey palette (default);\n"
    "               24: 24-bit grey files\n"
    "  --json       print the outcome as one JSON object";

#ifdef PS_HAVE_QTGUI
// Decodes the frame into 8-bit grey. Colour frames are accepted only when every
// pixel is grey (a frame saved through a colour format); a colour picture or a
// frame deeper than 8 bits is refused rather than silently converted.
// Reads the frame's bytes. Only a regular file is read: a folder is named as
// one instead of "file not found", and a pipe or device is refused at once
// instead of blocking the command (the open does not wait for a writer).
bool ReadFrameBytes(const std::string& path, QByteArray* bytes, std::string* error) {
  if (path.empty()) {
    *error = "the frame path is empty";
    return false;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0;
  if (!ok) {
    *error = "cannot read " + path + ": " + std::strerror(errno);
  } else if (S_ISDIR(st.st_mode)) {
    *error = path + " is a folder, not a frame file";
    ok = false;
  } else if (!S_ISREG(st.st_mode)) {
    *error = path + " is not a regular file (a device, pipe or socket); give the frame as a file";
    ok = false;
  }
  if (ok) {
    bytes->resize(static_cast<qsizetype>(st.st_size));
    qsizetype done = 0;
    while (ok && done < bytes->size()) {
      const ssize_t n = ::read(fd, bytes->data() + done, static_cast<size_t>(bytes->size() - done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        *error = "cannot read " + path + ": " + (n < 0 ? std::strerror(errno) : "the file became shorter");
        ok = false;
      }
      done += n > 0 ? n : 0;
    }
  }
  ::close(fd);
  return ok;
}

bool DecodeFrame(const std::string& path, GreyImage* out, std::string* error) {
  QByteArray bytes;
  if (!ReadFrameBytes(path, &bytes, error)) return false;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  reader.setAutoTransform(false);  // an orientation tag must not rotate the mosaic layout
  QImage image = reader.read();
  if (image.isNull()) {
    *error = "cannot read " + path + ": " + reader.errorString().toStdString();
    return false;
  }
  switch (image.format()) {
    case QImage::Format_Grayscale8:
      break;
    case QImage::Format_Grayscale16:
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64:
    case QImage::Format_RGBA64_Premultiplied:
    case QImage::Format_RGB30:
    case QImage::Format_BGR30:
    case QImage::Format_A2RGB30_Premultiplied:
    case QImage::Format_A2BGR30_Premultiplied:
      *error = path + " has more than 8 bits per sample; convert the frame to 8-bit grey first";
      return false;
    default: {
      const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
      for (int y = 0; y < rgb.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) {
          const QRgb p = line[x];
          if (qRed(p) != qGreen(p) || qGreen(p) != qBlue(p)) {
            *error = path + " is a colour picture (pixel " + std::to_string(x) + ", " + std::to_string(y) +
                     " is not grey); a raw mosaic frame is grey";
            return false;
          }
        }
      }
      image = rgb.convertToFormat(QImage::Format_Grayscale8);
    }
  }
  out->width = image.width();
  out->height = image.height();
  out->pixels.resize(static_cast<size_t>(out->width) * out->height);
  for (int y = 0; y < out->height; ++y) {
    const uchar* line = image.constScanLine(y);
    std::copy(line, line + out->width, out->pixels.begin() + static_cast<std::ptrdiff_t>(y) * out->width);
  }
  return true;
}
#endif

// Errors go to stderr as with every command; with --json stdout also gets an
// object saying so, so that a script reading stdout never sees nothing.
int Fail(bool json, const std::string& message, int code) {
  std::cerr << "demosaic: " << message << "\n";
  if (json) std::cout << Json().add("ok", false).add("error", message).str() << "\n";
  return code;
}

int RunDemosaic(const std::vector<std::string>& argv) {
  const Args args(argv, {{"--out", 1}, {"--pattern", 1}, {"--bits", 1}, {"--json", 0}});
  const bool json = args.has("--json");
  if (!args.ok()) return Fail(json, args.error(), 2);
  if (args.positional().size() != 1) return Fail(json, "expected exactly one FRAME", 2);
  if (!args.has("--out")) return Fail(json, "--out DIR is required", 2);
  const std::string framePath = args.positional().front();
  const std::string outDir = args.value("--out");

  MosaicPattern pattern;
  std::string error;
  if (args.has("--pattern") && !ParseMosaicPattern(args.value("--pattern"), &pattern, &error))
    return Fail(json, error, 2);
  int bits = 8;
  if (args.has("--bits")) {
    const auto b = ToInt(args.value("--bits"));
    if (!b || (*b != 8 && *b != 24)) return Fail(json, "--bits must be 8 or 24", 2);
    bits = static_cast<int>(*b);
  }

#ifndef PS_HAVE_QTGUI
  (void)framePath;
  (void)outDir;
  return Fail(json, "this build has no image decoders (built without Qt)", 1);
#else
  GreyImage frame;
  if (!DecodeFrame(framePath, &frame, &error)) return Fail(json, error, 1);
  if (frame.width < 2 || frame.height < 2)
    return Fail(json, framePath + " is smaller than one 2 x 2 block", 1);

  const PolarizationSet set = SplitMosaic(frame.pixels.data(), frame.width, frame.height,
                                          static_cast<size_t>(frame.width), pattern);

  if (!PrepareOutputFolder("--out", outDir, &error)) return Fail(json, error, 1);

  std::string filesJson = "{";
  for (int slot = 1; slot <= 4; ++slot) {
    const std::string name = SubImageFileName(slot);
    const std::string path = (std::filesystem::path(outDir) / name).string();
    if (!WriteFileBytes(path, EncodeGreyBmp(set[static_cast<size_t>(slot - 1)], bits), &error))
      return Fail(json, error, 1);
    if (slot > 1) filesJson += ", ";
    filesJson += JsonString(name.substr(0, name.size() - 4)) + ": " + JsonString(path);
  }
  filesJson += "}";

  const int w = set[0].width;
  const int h = set[0].height;
  if (json) {
    std::cout << Json()
                     .add("ok", true)
                     .add("frame", framePath)
                     .add("frame_width", frame.width)
                     .add("frame_height", frame.height)
                     .add("pattern", FormatMosaicPattern(pattern))
                     .add("bits", bits)
                     .add("width", w)
                     .add("height", h)
                     .addRaw("files", filesJson)
                     .str()
              << "\n";
  } else {
    std::cout << framePath << ": " << frame.width << " x " << frame.height << " frame, pattern "
              << FormatMosaicPattern(pattern) << "\n";
    for (int slot = 1; slot <= 4; ++slot)
      std::cout << "wrote " << (std::filesystem::path(outDir) / SubImageFileName(slot)).string() << "  " << w
                << " x " << h << ", " << bits << " bits\n";
    if (frame.width % 2 || frame.height % 2)
      std::cout << "note: the last odd row or column of the frame was dropped\n";
  }
  return 0;
#endif
}

}  // namespace

PS_REGISTER_COMMAND(Command{"demosaic", "split a raw polarization-camera frame into 0/45/90/135 BMP files",
                            kUsage, RunDemosaic});

}  // namespace ps::cli

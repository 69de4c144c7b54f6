// demosaic: splits one raw frame of a division-of-focal-plane polarization
// camera into the four BMP files of an image set (0.bmp, 45.bmp, 90.bmp, 135.bmp).
// The frame is decoded by the image codecs module (Qt's readers: PNG, TIFF, BMP,
// ...); the split itself is core code.
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "imageio/bmp_writer.h"
#include "imageio/demosaic.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/images/image_codecs.h"

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

// Reads the frame's bytes. Only a regular file is read: a folder is named as
// one instead of "file not found", and a pipe or device is refused at once
// instead of blocking the command (the open does not wait for a writer).
bool ReadFrameBytes(const std::string& path, std::string* bytes, std::string* error) {
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
    bytes->resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (ok && done < bytes->size()) {
      const ssize_t n = ::read(fd, bytes->data() + done, bytes->size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        *error = "cannot read " + path + ": " + (n < 0 ? std::strerror(errno) : "the file became shorter");
        ok = false;
      }
      done += n > 0 ? static_cast<size_t>(n) : 0;
    }
  }
  ::close(fd);
  return ok;
}

// Decodes the frame into 8-bit grey: colour frames are accepted only when every
// pixel is grey, a colour picture or a frame deeper than 8 bits is refused.
bool DecodeFrame(const std::string& path, GreyImage* out, std::string* error) {
  const ImageCodecs* codecs = LoadImageCodecs(error);
  if (!codecs) return false;
  std::string bytes;
  if (!ReadFrameBytes(path, &bytes, error)) return false;
  return codecs->decodeGrey(bytes, path, &out->width, &out->height, &out->pixels, error);
}

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
}

}  // namespace

PS_REGISTER_COMMAND(Command{"demosaic", "split a raw polarization-camera frame into 0/45/90/135 BMP files",
                            kUsage, RunDemosaic});

}  // namespace ps::cli

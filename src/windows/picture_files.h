// Pictures that are not BMP files, made into the BMP files the set is read
// from: a polarization-camera frame split into its four sub-images, and a
// single PNG or TIFF photograph converted to a 24-bit colour or 8-bit grey
// bitmap. The converted files live in a folder of the running program, so
// that everything after them (checks, messages, reading, slots) is exactly
// what four chosen BMP files get.
#pragma once

#include <QString>
#include <string>
#include <vector>

#include "imageio/demosaic.h"

namespace ps::ui {

// A picture decoded for the set: grey (frames, grey photographs) or colour.
struct DecodedPicture {
  bool ok = false;
  bool grey = true;
  GreyImage greyImage;      // when grey
  std::vector<uint8_t> rgb;  // when colour: R, G, B per pixel, top row first
  int width = 0;
  int height = 0;
  std::string format;       // "PNG", "TIFF", "BMP", ...
  int sourceBits = 8;       // bits per sample in the file (16 is scaled to 8)
  std::string error;        // Russian, when !ok
};

// Decodes a PNG, TIFF or BMP picture. 16-bit samples are scaled to 8 bits
// (v * 255 / 65535, rounded); colour pictures whose pixels are all grey are
// read as grey.
DecodedPicture DecodePicture(const QString& path);

// The file names the window knows how to convert (PNG and TIFF).
bool IsConvertiblePhoto(const QString& name);
// Name filters of the pictures a frame may be given as.
QStringList FrameNameFilters();

// Converts a PNG or TIFF photograph into a BMP file (24-bit colour, or 8-bit
// grey with the full grey palette) in the program's conversion folder.
// Returns the BMP's path, or "" with `error` set; `whatRead` says, in
// Russian, what was read from the photograph.
QString ConvertPhotoToBmp(const QString& path, std::string* whatRead, std::string* error);

// Splits a camera frame with `pattern` into the four 8-bit grey BMP files of
// a set (0°, 45°, 90°, 135°) in a new folder of the conversion folder.
// Returns their paths in slot order, or none with `error` set.
std::vector<std::string> SplitFrameToFiles(const QString& path, const MosaicPattern& pattern, std::string* error);

}  // namespace ps::ui

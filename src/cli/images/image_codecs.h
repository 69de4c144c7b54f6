// PNG encoding and frame decoding for the command-line tool, kept in a module of
// their own (libpolarsphere-cli-images.so, built on Qt's image readers and
// writers) that the tool loads only when a command needs pictures: loading Qt
// costs every command about ten milliseconds of start-up, most of a small
// command's run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ps::cli {

struct ImageCodecs {
  // Encodes `height` rows of `width` RGB pixels, rows `stride` bytes apart, as PNG.
  bool (*encodePng)(const uint8_t* rgb, int width, int height, int stride, std::string* png, std::string* error);
  // Decodes a frame (PNG, TIFF, BMP, ...) into 8-bit grey, top row first. Frames
  // deeper than 8 bits and colour pictures are refused; `name` is used in messages.
  bool (*decodeGrey)(const std::string& bytes, const std::string& name, int* width, int* height,
                     std::vector<uint8_t>* pixels, std::string* error);
};

// The module's entry point, looked up by name.
extern "C" const ImageCodecs* polarsphere_image_codecs();

// Loads the module from the folder of the running program on first use; null
// with `error` set when it cannot be loaded.
const ImageCodecs* LoadImageCodecs(std::string* error);

}  // namespace ps::cli

// Fuzzes the file check and the header reader: any bytes must end in a refusal
// with a message or an accepted header whose values are consistent, and the
// check itself never changes the state.
#include <cstdlib>

#include "fuzz_common.h"
#include "imageio/bmp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = ps::fuzz::WriteInput("input.bmp", data, size);
  ps::AppState state;
  state.startNewSet();
  const ps::CheckFileOutcome out = ps::CheckFile(state, ps::fuzz::InputFolder(), "input.bmp");
  if (state.SetStarted != 0 || !state.ImageStore.empty() || !state.Header.FilePath.empty()) std::abort();
  if (out.header.accepted) {
    // An accepted header describes a readable set: positive dimensions, 8 or
    // 24 bits, and the pixel rows inside the file.
    const ps::FileHeaderValues& h = out.header.file.header;
    if (h.ImageWidth <= 0 || h.ImageHeight <= 0) std::abort();
    if (h.BitsPerPixel != 8 && h.BitsPerPixel != 24) std::abort();
    if (static_cast<long long>(h.PixelDataOffset) + static_cast<long long>(h.ImageHeight) * h.RowLength >
        static_cast<long long>(size))
      std::abort();
  }
  if (out.headerRead && !out.header.accepted && out.header.messages.empty() && !out.header.showUnsupportedDepth)
    std::abort();  // a refusal always says why
  return 0;
}

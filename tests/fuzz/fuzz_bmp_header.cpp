// Fuzzes the file check and the header reader: any bytes must end in a refusal
// with a message or an accepted header whose values are consistent.
#include <cstdlib>

#include "fuzz_common.h"
#include "imageio/bmp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = ps::fuzz::WriteInput("input.bmp", data, size);
  ps::AppState state;
  state.startNewSet();
  const ps::CheckFileOutcome out = ps::CheckFile(state, ps::fuzz::InputFolder(), "input.bmp");
  if (out.header.accepted) {
    // An accepted header describes a readable set: positive dimensions and a
    // store of exactly that size.
    if (state.Header.ImageWidth <= 0 || state.Header.ImageHeight <= 0) std::abort();
    if (state.ImageStore.width() != state.SetWidth || state.ImageStore.height() != state.SetHeight) std::abort();
  }
  if (out.headerRead && !out.header.accepted && out.header.messages.empty() && !out.header.showUnsupportedDepth)
    std::abort();  // a refusal always says why
  return 0;
}
